#include "evaluator/depth.h"

#include <pthread.h>
#include <sys/resource.h>

#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"

namespace zub::depth {
namespace {

// The main thread's stack as the system sets it, so code run there (tests, start-up) is guarded.
size_t main_stack_size() {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return size_t{8} << 20;
    return static_cast<size_t>(limit.rlim_cur);
}

const char* limit_below(size_t size) {
    const auto* here = static_cast<const char*>(__builtin_frame_address(0));
    const size_t usable = size > 2 * kReserve ? size - kReserve : size / 2;
    return here - usable;
}

struct Job {
    int (*fn)(void*);
    void* arg;
    int result;
};

void* thread_main(void* data) {
    auto* job = static_cast<Job*>(data);
    enter_thread(kEvaluatorStack);
    lowrt::use_signal_stack();
    job->result = job->fn(job->arg);
    return nullptr;
}

}  // namespace

const char* g_limit = limit_below(main_stack_size());

void enter_thread(size_t size) { g_limit = limit_below(size); }

void overflow() {
    cycles::reset();
    error::fire(ErrorId::stack_overflow);
}

int run_on_evaluator_thread(int (*fn)(void*), void* arg) {
    Job job{fn, arg, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kEvaluatorStack);
    pthread_t thread;
    const char* saved = g_limit;
    if (pthread_create(&thread, &attr, thread_main, &job) != 0) lowrt::fatal(lowrt::Fatal::out_of_memory);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
    g_limit = saved;
    return job.result;
}

}  // namespace zub::depth
