// The routines of the ZUBBIN codec object: encode* (the compact or the classic form) and the
// decoder of a binary. The codec object itself is built by the environment's own source.
#include "environment/zubbin_codec.h"

#include "datatypes/function.h"
#include "evaluator/native_args.h"
#include "system/zubbin.h"

namespace zub::zubbin_codec {
namespace {

using native_args::Args;
using native_args::Plain;

Status encode(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(zubbin::encode(args[0], cell::as_logic(args[1])));
}

Status decode(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(zubbin::decode_value(args[0]));
}

}  // namespace

void register_routines() {
    (void)function::add_routine("zubbin-encode", encode);
    (void)function::add_routine("zubbin-decode", decode);
}

}  // namespace zub::zubbin_codec
