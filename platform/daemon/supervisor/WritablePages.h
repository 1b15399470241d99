#pragma once
// A process forked from another shares its memory until it writes to it: every page it then
// writes is copied first, one page fault at a time. A supervisor that waits to be handed an
// instance takes those faults ahead, while it waits, instead of between its instance's start
// and the program's.

namespace WritablePages {

/// Gives this process its own copy of every page of its private writable mappings that is in
/// memory now, leaving their contents as they are and pages never touched untouched. Returns
/// the number of pages, or -1 when the process's mappings cannot be read. Single-threaded
/// processes only: the fallback for kernels that cannot populate a range rewrites each page
/// in place.
int Prefault();

} // namespace WritablePages
