// The enlargement engine: a frame enlarged 2:1 with edges kept sharp.
//
// Road of one frame: enlargeFrame (frame_driver.h) seeds the source lattice
// and the border ring, then runs interpolatePass (interpolate_pass.h) twice,
// diagonal then axial. Active targets get their window statistics from
// pass_windows.h: running box sums in word planes (window_planes.h,
// axial_planes.h) where no border clamp reaches the window, and row bands of
// the clamped pyramid (window_bands.h) along the border; both give the words
// of the pyramid's own operations (window_pyramid.h), which direct callers
// and the tests use. Their pixel comes from estimateEdgePixel
// (edge_estimate.h). The kernels of one instruction set (engine_kernels.h)
// are chosen once for the frame, the widest the processor has unless the
// caller passes others, and handed down to every pass. Output is bit-exact on
// every build and set. frame_tiles.h splits a frame into tiles that can be
// enlarged apart with the same result.
#pragma once

#include "engine/edge_estimate.h"
#include "engine/engine_allocator.h"
#include "engine/engine_kernels.h"
#include "engine/enlarger_state.h"
#include "engine/frame_driver.h"
#include "engine/frame_tiles.h"
#include "engine/instruction_set.h"
#include "engine/interpolate_pass.h"
#include "engine/moment_record.h"
#include "engine/positions.h"
#include "engine/tagged_pixel.h"
#include "engine/window_pyramid.h"
