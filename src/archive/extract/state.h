#pragma once
// The extraction side's parameters and per-run state of the engine object,
// with the callbacks only an unload or a listing uses.

namespace archive {

struct TExtractState {};

}  // namespace archive
