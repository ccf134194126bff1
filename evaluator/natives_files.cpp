// The natives over the file services: size? and to-local-file.
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "system/files.h"

namespace zub::natives {

using native_args::Args;

Status size_q_entry(const int32_t* refinements) {
    const Args<Native::size_q> args(refinements);
    return args.done(files::size(args[0]));
}

Status to_local_file_entry(const int32_t* refinements) {
    const Args<Native::to_local_file> args(refinements);
    return args.done(files::to_local(args[0], args.has<"full">()));
}

}  // namespace zub::natives
