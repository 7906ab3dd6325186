#pragma once
// The update side's parameters and per-run state of the engine object.

namespace archive {

struct TUpdateState {};

}  // namespace archive
