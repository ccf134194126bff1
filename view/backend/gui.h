// The GUI library's part of start-up: the backend's routines and the front end written in Zub.
#pragma once

#include "boot/boot.h"

namespace zub::gui {

const boot::Extension& extension();

}  // namespace zub::gui
