// Chief header of the image model: the image buffer, pixel formats and colour rules, and the
// shared row and buffer utilities.
#pragma once

#include "image/iebitmap.h"
#include "image/iedib.h"
#include "image/iepixel.h"
#include "image/ierowutils.h"
