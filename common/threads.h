// Threads of the plug-ins' loops (OpenMP). A loop hands independent work items (images, maps,
// bands or ranges of columns) to the threads of one parallel region; every output value is
// computed by the one thread that takes its item, with the same operations in the same order as
// on a single thread, so that no bit depends on the thread count. No worker calls the host:
// the arguments are read, and all working memory is taken (one copy per thread where each
// needs its own), before the region starts, and nothing inside a region throws.
//
// The count follows OMP_NUM_THREADS (or omp_set_num_threads), every core by default. Built
// without OpenMP, every loop runs on the calling thread.
#pragma once

#include <algorithm>
#include <cstdint>

#include "frame.h"

// The threads for a loop over itemCount independent items: the OpenMP thread count, but no
// more than there are items, and at least 1.
int32_t threadCountFor(int64_t itemCount);

// The calling thread's number in its team, 0 ... teamSize() - 1; 0 outside a parallel region.
// A region started with num_threads(n) has a team of at most n threads.
int32_t threadNumber();

// The number of threads in the calling thread's team; 1 outside a parallel region.
int32_t teamSize();

// Items first ... end - 1 of a range.
struct ItemRange {
    int64_t first;
    int64_t end;
};

// Share `part` (0 ... parts - 1) of count items split into parts contiguous shares in order,
// their sizes differing by at most 1: share p is the items from p * count / parts on.
ItemRange shareOf(int64_t count, int32_t part, int32_t parts);

// Parts first ... end - 1 of item `item` (a map, an image): one unit of a loop's work.
struct WorkPiece {
    int32_t item;
    int32_t first;
    int32_t end;
};

// The pieces of a loop, in item order and within an item in part order.
struct PieceList {
    WorkPiece* pieces;
    int64_t count;
};

// Cuts items 0 ... itemCount - 1, item k of partsOf(k) parts (values, columns, bands; at least
// 0), into pieces of pieceSize parts (the last piece of an item may hold fewer). The list comes
// from the host allocator: take it before the parallel region, release it with mxFree.
template <typename PartsOf>
PieceList cutIntoPieces(int32_t itemCount, int32_t pieceSize, PartsOf partsOf) {
    int64_t count = 0;
    for (int32_t item = 0; item < itemCount; ++item) count += (int64_t{partsOf(item)} + pieceSize - 1) / pieceSize;
    auto* pieces = static_cast<WorkPiece*>(hostCalloc(static_cast<size_t>(count), sizeof(WorkPiece)));
    int64_t next = 0;
    for (int32_t item = 0; item < itemCount; ++item) {
        int64_t parts = partsOf(item);
        for (int64_t first = 0; first < parts; first += pieceSize) {
            pieces[next++] = WorkPiece{item, static_cast<int32_t>(first),
                                       static_cast<int32_t>(std::min(parts, first + pieceSize))};
        }
    }
    return PieceList{pieces, count};
}
