// A fixture that brings the runtime up as start-up does, so far as it exists, and takes it down.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

#include "boot/runtime.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"

namespace zub {

class RuntimeTest : public ::testing::Test {
  protected:
    void SetUp() override { runtime::init(); }
    void TearDown() override { runtime::cleanup(); }

    static Cell word(const char* name, TypeId type = TypeId::word) {
        Cell w = words::global(symbol::make(name));
        cell::set_type(w, type);
        return w;
    }
    // The error a call raised; fails the test when it raised none.
    template <typename F>
    static ErrorId raised(F&& call) {
        try {
            call();
        } catch (const Thrown&) {
            return error::pending().id;
        }
        ADD_FAILURE() << "no error raised";
        return ErrorId{};
    }

    static Cell block_of(std::initializer_list<Cell> cells, TypeId type = TypeId::block) {
        const NodeId node = memory::alloc_cells(static_cast<uint32_t>(cells.size()));
        for (const Cell& c : cells) series::append_cell(node, c);
        return cell::series(type, node);
    }
};

}  // namespace zub
