// The catalogue's tables, derived from errors.def, and the provisional error slot.
#include "runtime/error.h"

#include <array>

namespace zub::error {
namespace {

constexpr ErrorCategory kCategoryOf[] = {
#define ZUB_ERROR_CATEGORY(name, word, text)
#define ZUB_ERROR(category, name, word, tmpl) ErrorCategory::category,
#include "runtime/errors.def"
};
constexpr std::string_view kIdWords[] = {
#define ZUB_ERROR_CATEGORY(name, word, text)
#define ZUB_ERROR(category, name, word, tmpl) word,
#include "runtime/errors.def"
};
constexpr std::string_view kTemplates[] = {
#define ZUB_ERROR_CATEGORY(name, word, text)
#define ZUB_ERROR(category, name, word, tmpl) tmpl,
#include "runtime/errors.def"
};
constexpr std::string_view kCategoryWords[] = {
#define ZUB_ERROR_CATEGORY(name, word, text) word,
#define ZUB_ERROR(category, name, word, tmpl)
#include "runtime/errors.def"
};
constexpr std::string_view kCategoryTexts[] = {
#define ZUB_ERROR_CATEGORY(name, word, text) text,
#define ZUB_ERROR(category, name, word, tmpl)
#include "runtime/errors.def"
};
constexpr size_t kIdCount = std::size(kCategoryOf);
static_assert(kIdCount == 140, "the catalogue has 140 ids");
static_assert(std::size(kCategoryWords) == 10, "the catalogue has 10 categories");

// Position of each id among the ids of its category.
constexpr auto kPositions = [] {
    std::array<uint8_t, kIdCount> positions{};
    std::array<uint8_t, std::size(kCategoryWords)> seen{};
    for (size_t i = 0; i < kIdCount; ++i) positions[i] = seen[static_cast<size_t>(kCategoryOf[i])]++;
    return positions;
}();

Pending g_pending{};
const Cell* g_near_source = nullptr;
CallCapture g_capture = nullptr;

void record(ErrorId id, int count, const Cell* args) {
    g_pending.id = id;
    g_pending.arg_count = count;
    for (int i = 0; i < 3; ++i) g_pending.args[i] = i < count ? args[i] : cell::none();
    g_pending.near = g_near_source ? *g_near_source : cell::unset();
    g_pending.value = cell::none();
    g_pending.where = 0;
    g_pending.trace_count = 0;
    g_pending.trace_functions = 0;
    if (g_capture) g_capture(g_pending);
}

[[noreturn]] void raise(ErrorId id, int count, const Cell* args) {
    record(id, count, args);
    throw Thrown{ThrownCode::error};
}

}  // namespace

ErrorCategory category_of(ErrorId id) { return kCategoryOf[static_cast<size_t>(id)]; }
int code_of(ErrorId id) { return static_cast<int>(category_of(id)) * 100 + kPositions[static_cast<size_t>(id)]; }
std::string_view id_word(ErrorId id) { return kIdWords[static_cast<size_t>(id)]; }
std::string_view message_template(ErrorId id) { return kTemplates[static_cast<size_t>(id)]; }
std::string_view category_word(ErrorCategory c) { return kCategoryWords[static_cast<size_t>(c)]; }
std::string_view category_text(ErrorCategory c) { return kCategoryTexts[static_cast<size_t>(c)]; }

const Pending& pending() { return g_pending; }
void clear_pending() { g_pending = Pending{}; }

void fire(ErrorId id) { raise(id, 0, nullptr); }
void fire(ErrorId id, const Cell& a1) { raise(id, 1, &a1); }
void fire(ErrorId id, const Cell& a1, const Cell& a2) {
    const Cell args[] = {a1, a2};
    raise(id, 2, args);
}
void fire(ErrorId id, const Cell& a1, const Cell& a2, const Cell& a3) {
    const Cell args[] = {a1, a2, a3};
    raise(id, 3, args);
}

void fire_value(const Cell& error_value, ErrorId id, const Cell* args, int count) {
    const Cell value = error_value;  // it may live in the pending slot that record rewrites
    record(id, count, args);
    g_pending.value = value;
    throw Thrown{ThrownCode::error};
}

void set_near_source(const Cell* position) { g_near_source = position; }
void set_call_capture(CallCapture capture) { g_capture = capture; }
CallCapture call_capture() { return g_capture; }

}  // namespace zub::error
