#pragma once

// <xcb/xkb.h> names a struct member `explicit`, a C++ keyword: include it through this header only.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
