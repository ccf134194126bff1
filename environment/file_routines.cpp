// The file routines: thin wrappers that take the routine's arguments to the file services.
#include "environment/file_routines.h"

#include "datatypes/function.h"
#include "evaluator/native_args.h"
#include "system/files.h"

namespace zub::routines {
namespace {

using native_args::Args;
using native_args::Plain;

Status get_current_dir(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(files::current_dir());
}

Status set_current_dir(const int32_t* r) {
    const Args<Plain::routine> args(r);
    files::set_current_dir(args[0]);
    return args.done(cell::unset());
}

Status create_dir(const int32_t* r) {
    const Args<Plain::routine> args(r);
    files::make_dir(args[0]);
    return args.done(cell::unset());
}

Status exists(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(files::exists(args[0])));
}

Status to_zub_file(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(files::to_zub(args[0]));
}

}  // namespace

void register_file_routines() {
    (void)function::add_routine("get-current-dir", get_current_dir);
    (void)function::add_routine("set-current-dir", set_current_dir);
    (void)function::add_routine("create-dir", create_dir);
    (void)function::add_routine("exists?", exists);
    (void)function::add_routine("to-zub-file", to_zub_file);
}

}  // namespace zub::routines
