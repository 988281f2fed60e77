#pragma once
#include <cstddef>

namespace heliodex {

// Asks the kernel to back the whole 2 MiB pages inside [p, p + bytes) with huge pages when
// they are first touched. Loading a million-row file writes hundreds of megabytes of fresh
// memory, and taking it 4 KiB page fault by page fault costs about as much as the parse.
// Only a hint: where it is refused or unknown, nothing changes.
void advise_huge_pages(const void* p, std::size_t bytes) noexcept;

// Gives the whole pages inside [p, p + bytes) back to the kernel: memory that an allocation
// still owns but no longer uses stops counting as resident, and reads as zeros when it is
// next touched. Only where the kernel offers it; elsewhere nothing changes.
void release_pages(void* p, std::size_t bytes) noexcept;

}  // namespace heliodex
