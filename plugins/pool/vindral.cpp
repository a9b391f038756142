// vindral: pools a grid of response maps into maps of local maxima over small perturbations of
// position and orientation, and records for every pooled value the shift slot that gave it.

#include <algorithm>
#include <cstdlib>

#include "dispatch.h"
#include "frame.h"
#include "placement.h"
#include "shifts.h"
#include "threads.h"

namespace {

// The three map grids of a call, each cell indexed by image + orient * imageCount.
struct PoolGrids {
    const float* const* responseMaps;
    float* const* pooledMaps;
    float* const* traceMaps;
    int32_t imageCount;
    int32_t orientCount;
};

// One image's response size and pooled size. Node (i, j) of the pooled maps stands for pixel
// (i * poolStep, j * poolStep).
struct ImageGeometry {
    int32_t rows;
    int32_t cols;
    int32_t poolStep;
    int32_t pooledRows;
    int32_t pooledCols;
};

ImageGeometry geometryOf(const ImageSizes& sizes, int32_t image, int32_t poolStep) {
    int32_t rows = roundHalfUp(sizes.rows[image]);
    int32_t cols = roundHalfUp(sizes.cols[image]);
    return ImageGeometry{rows, cols, poolStep, pooledSizeOf(rows, poolStep), pooledSizeOf(cols, poolStep)};
}

// Where the responses of one image's pixel columns are read from: pixel column y of
// orientation o starts at maps[o] + (y - firstCol) * columnStride, and within it pixel row
// x = q * rowStep + phase + 1 (phase 0 ... rowStep-1) lies at phase * phaseLength + q. Read
// straight from the response maps, rowStep is 1 (phase 0, q = x - 1); read from a band of
// rearranged columns, rowStep is poolStep, so that consecutive nodes meet consecutive values.
struct ColumnSource {
    const float* const* maps;
    int32_t firstCol;
    int64_t columnStride;
    int32_t rowStep;
    int64_t phaseLength;
};

// One slot as seen from the nodes of one image: node i of pooled column j meets the response
// at map[base + i] (map and base from the ColumnSource, the column term added once the column
// is chosen) when i lies in firstNode ... lastNode (its displaced pixel row inside the image)
// and the displaced column j * poolStep + colShift lies inside too.
struct SlotReach {
    const float* map;
    int64_t base;
    float slot;
    int32_t colShift;
    int32_t firstNode;
    int32_t lastNode;
};

// The slots of `orient` that reach at least one node row, in slot order, into `reach`;
// returns their count. Slots left out would be skipped by the search at every node. Node i
// meets pixel row i * poolStep + rowShift, which lies at q = i + qShift in phase `phase`,
// where rowShift - 1 = qShift * rowStep + phase: rowStep is poolStep or, with poolStep 1, 1.
int32_t slotsReachingRows(const ShiftTable& shifts, const ColumnSource& source, const ImageGeometry& g,
                          int32_t orient, SlotReach* reach) {
    int32_t count = 0;
    for (int32_t s = 0; s < shifts.shiftCount; ++s) {
        int32_t rowShift = shifts.rowShift[orient][s];
        PositionRange nodes = positionsLandingInside(1, g.pooledRows, rowShift, g.poolStep, g.rows);
        if (nodes.first > nodes.last) continue;
        int64_t qShift = floorDiv(rowShift - int64_t{1}, source.rowStep);
        int64_t phase = rowShift - int64_t{1} - qShift * source.rowStep;
        const float* map = source.maps[shifts.shiftedOrient[orient][s]];
        reach[count++] = SlotReach{map, phase * source.phaseLength + qShift, static_cast<float>(s),
                                   shifts.colShift[orient][s], nodes.first, nodes.last};
    }
    return count;
}

// Of the slots in rowReach, those whose displaced column for pooled column j lies inside the
// image, in the same order, into `reach` with base set for that column; returns their count.
int32_t slotsReachingColumn(const SlotReach* rowReach, int32_t rowReachCount, const ColumnSource& source,
                            const ImageGeometry& g, int32_t j, SlotReach* reach) {
    int32_t count = 0;
    for (int32_t r = 0; r < rowReachCount; ++r) {
        int64_t pixelCol = int64_t{j} * g.poolStep + rowReach[r].colShift;
        if (pixelCol < 1 || pixelCol > g.cols) continue;
        reach[count] = rowReach[r];
        reach[count].base += (pixelCol - source.firstCol) * source.columnStride;
        ++count;
    }
    return count;
}

// The search at one node, slot by slot: the running maximum starts at noResponse with slot 0
// and is replaced only by a strictly greater response (so ties keep the earlier slot and NaN
// never wins). The trace is written as the slot number in single precision.
void poolNode(const SlotReach* reach, int32_t reachCount, int32_t i, float* pooled, float* trace) {
    float best = noResponse;
    float slot = 0.0f;
    for (int32_t r = 0; r < reachCount; ++r) {
        if (i < reach[r].firstNode || i > reach[r].lastNode) continue;
        float v = reach[r].map[reach[r].base + i];
        if (v > best) {
            best = v;
            slot = reach[r].slot;
        }
    }
    *pooled = best;
    *trace = slot;
}

// ---------------------------------------------------------------- nodes in vectors
//
// A column's nodes are searched a vector's worth at a time: each lane keeps its own running
// maximum and slot, and the slots come in order, each replacing a lane's values only where
// strictly greater. That is the node search lane by lane, so the results are those of
// poolNode bit for bit, ties, NaN and signed zeros included. A lane whose node a slot does not
// reach is offered NaN by that slot, which never wins: the same as skipping the slot there.

// Vectors of eight lanes where the processor has AVX2, and of four (one SSE2 register) where
// it has not: eight-lane vectors that cross register halves cost more there than they gain.
// permutesLanes: the instruction set moves lanes by a computed index in one step.
struct WideLanes {
    typedef float Floats __attribute__((vector_size(32)));
    typedef int32_t Ints __attribute__((vector_size(32)));
    static constexpr int32_t count = 8;
    static constexpr bool permutesLanes = true;
};
struct NarrowLanes {
    typedef float Floats __attribute__((vector_size(16)));
    typedef int32_t Ints __attribute__((vector_size(16)));
    static constexpr int32_t count = 4;
    static constexpr bool permutesLanes = false;
};
// Vectors searched side by side, so that their compare-and-select chains overlap.
const int32_t vectorsPerBlock = 4;

// The helpers below (VECTOR_HELPER) are inlined into each processor's version of poolBandAt.

// How the pixel rows of one phase lie in a map column: every other value (poolStep 2), or
// poolStep values apart.
enum class Stride { two, any };

// L::count values poolStep apart, starting at `first`, into v; reads no value beyond the last
// one it gathers.
template <typename L, Stride stride>
VECTOR_HELPER void gatherStrided(const float* first, int32_t poolStep, typename L::Floats& v) {
    if constexpr (stride == Stride::two) {
        // Values 0 ... n-1 and n-1 ... 2n-2 hold the even offsets 0 ... 2n-2 between them.
        typename L::Floats low, high;
        __builtin_memcpy(&low, first, sizeof(low));
        __builtin_memcpy(&high, first + L::count - 1, sizeof(high));
        if constexpr (L::count == 8) {
            v = __builtin_shufflevector(low, high, 0, 2, 4, 6, 9, 11, 13, 15);
        } else {
            v = __builtin_shufflevector(low, high, 0, 2, 5, 7);
        }
    } else {
        for (int32_t k = 0; k < L::count; ++k) v[k] = first[int64_t{k} * poolStep];
    }
}

// Rearranges one response column of `rows` values into poolStep phases of phaseLength values:
// phase p, entry q receives the value of pixel row q * poolStep + p + 1. Entries past the
// column's end keep what they held; no node reads them.
template <typename L, Stride stride>
VECTOR_HELPER void splitPhases(const float* column, int32_t rows, int32_t poolStep, int64_t phaseLength,
                               float* phases) {
    for (int32_t phase = 0; phase < poolStep && phase < rows; ++phase) {
        int32_t count = (rows - 1 - phase) / poolStep + 1;
        const float* from = column + phase;
        float* to = phases + phase * phaseLength;
        int32_t q = 0;
        for (; q + L::count <= count; q += L::count) {
            typename L::Floats v;
            gatherStrided<L, stride>(from + int64_t{q} * poolStep, poolStep, v);
            __builtin_memcpy(to + q, &v, sizeof(v));
        }
        for (; q < count; ++q) to[q] = from[int64_t{q} * poolStep];
    }
}

// v's lanes rearranged: lane k takes lane from[k] (0 ... L::count - 1). GCC moves them in one
// step; clang (the fuzzing build), which lacks that builtin, takes them one by one.
template <typename L>
VECTOR_HELPER void moveLanes(const typename L::Floats& v, const typename L::Ints& from, typename L::Floats& moved) {
#if defined(__clang__)
    for (int32_t k = 0; k < L::count; ++k) moved[k] = v[from[k]];
#else
    moved = __builtin_shuffle(v, from);
#endif
}

// The responses that one slot offers to the L::count nodes from `first` on: NaN for the
// nodes it does not reach. The slot must reach L::count nodes or more; when it misses some
// of these, the vector is read where the slot's reach begins (or ends) and its lanes moved
// into place (lane by lane on processors without a lane permutation).
template <typename L>
VECTOR_HELPER void gatherReachedNodes(const SlotReach& reach, int32_t first, typename L::Floats& v) {
    const int32_t laneCount = L::count;
    if constexpr (!L::permutesLanes) {
        for (int32_t k = 0; k < laneCount; ++k) {
            int32_t i = first + k;
            bool reached = i >= reach.firstNode && i <= reach.lastNode;
            v[k] = reached ? reach.map[reach.base + i] : __builtin_nanf("");
        }
        return;
    }
    int32_t window = first;
    if (first < reach.firstNode) {
        window = reach.firstNode;
    } else if (first + laneCount - 1 > reach.lastNode) {
        window = reach.lastNode - laneCount + 1;
    }
    __builtin_memcpy(&v, reach.map + (reach.base + window), sizeof(v));
    if (window == first) return;
    typename L::Ints from;
    for (int32_t k = 0; k < laneCount; ++k) from[k] = k + (first - window);
    typename L::Ints reached = (from >= 0) & (from < laneCount);
    typename L::Floats moved;
    moveLanes<L>(v, from & (laneCount - 1), moved);
    v = reached ? moved : typename L::Floats{} + __builtin_nanf("");
}

// Searches vectorCount vectors of L::count consecutive nodes, vector k from node firsts[k]
// on, and writes their maxima and slots (pooled and trace point at the column's node 1). With
// `edge`, slots may miss some of these nodes (each slot reaching L::count nodes or more);
// otherwise every slot reaches them all.
template <typename L, int32_t vectorCount, bool edge>
VECTOR_HELPER void poolVectors(const SlotReach* reach, int32_t reachCount, const int32_t (&firsts)[vectorCount],
                               float* pooled, float* trace) {
    typedef typename L::Floats Floats;
    const int32_t laneCount = L::count;
    Floats best[vectorCount];
    Floats slot[vectorCount];
    for (int32_t k = 0; k < vectorCount; ++k) {
        best[k] = Floats{} + noResponse;
        slot[k] = Floats{};
    }
    for (int32_t r = 0; r < reachCount; ++r) {
        Floats slotNumber = Floats{} + reach[r].slot;
        for (int32_t k = 0; k < vectorCount; ++k) {
            Floats v;
            if (edge) {
                if (firsts[k] > reach[r].lastNode || firsts[k] + laneCount - 1 < reach[r].firstNode) continue;
                gatherReachedNodes<L>(reach[r], firsts[k], v);
            } else {
                __builtin_memcpy(&v, reach[r].map + (reach[r].base + firsts[k]), sizeof(v));
            }
            auto wins = v > best[k];
            best[k] = wins ? v : best[k];
            slot[k] = wins ? slotNumber : slot[k];
        }
    }
    for (int32_t k = 0; k < vectorCount; ++k) {
        __builtin_memcpy(pooled + firsts[k] - 1, &best[k], sizeof(best[k]));
        __builtin_memcpy(trace + firsts[k] - 1, &slot[k], sizeof(slot[k]));
    }
}

// Pools nodes first ... last of one column (last - first + 1 >= L::count), all reached by
// every slot: blocks of consecutive vectors, then single vectors, the last block or vector
// ending at `last` and possibly redoing nodes already done (with the same result).
template <typename L>
VECTOR_HELPER void poolInnerNodes(const SlotReach* reach, int32_t reachCount, int32_t first, int32_t last,
                                  float* pooled, float* trace) {
    const int32_t laneCount = L::count;
    const int32_t blockNodes = vectorsPerBlock * laneCount;
    int32_t runNodes = last - first + 1 >= blockNodes ? blockNodes : laneCount;
    for (int32_t start = first; start <= last; start += runNodes) {
        int32_t runFirst = std::min(start, last - runNodes + 1);
        if (runNodes == blockNodes) {
            int32_t firsts[vectorsPerBlock];
            for (int32_t k = 0; k < vectorsPerBlock; ++k) firsts[k] = runFirst + k * laneCount;
            poolVectors<L, vectorsPerBlock, false>(reach, reachCount, firsts, pooled, trace);
        } else {
            int32_t firsts[1] = {runFirst};
            poolVectors<L, 1, false>(reach, reachCount, firsts, pooled, trace);
        }
    }
}

// Pools one column. Near the top and bottom, where some slots miss some nodes, vectors take NaN
// for the missed nodes; they go a top one and a bottom one at a time, so that two
// compare-and-select chains overlap. The nodes in between, reached by every slot, go in plain
// vectors. A column shorter than a vector, or with a slot that reaches fewer nodes, goes node
// by node.
template <typename L>
VECTOR_HELPER void poolColumn(const SlotReach* reach, int32_t reachCount, const ImageGeometry& g, float* pooled,
                              float* trace) {
    const int32_t laneCount = L::count;
    int32_t innerFirst = 1;
    int32_t innerLast = g.pooledRows;
    bool vectorsFit = g.pooledRows >= laneCount;
    for (int32_t r = 0; r < reachCount; ++r) {
        innerFirst = std::max(innerFirst, reach[r].firstNode);
        innerLast = std::min(innerLast, reach[r].lastNode);
        vectorsFit = vectorsFit && reach[r].lastNode - reach[r].firstNode + 1 >= laneCount;
    }
    if (!vectorsFit) {
        for (int32_t i = 1; i <= g.pooledRows; ++i) {
            poolNode(reach, reachCount, i, pooled + i - 1, trace + i - 1);
        }
        return;
    }
    // Edge vectors from the top down past innerFirst - 1 and from the bottom up past
    // innerLast + 1 (they may overlap one another in a short column); nodes top ... bottom
    // remain, all inner ones.
    int32_t top = 1;
    int32_t bottom = g.pooledRows;
    while (top < innerFirst || bottom > innerLast) {
        bool topEdge = top < innerFirst;
        bool bottomEdge = bottom > innerLast;
        int32_t topFirst = std::min(top, g.pooledRows - laneCount + 1);
        int32_t bottomFirst = std::max(bottom - laneCount + 1, 1);
        if (topEdge && bottomEdge) {
            int32_t firsts[2] = {topFirst, bottomFirst};
            poolVectors<L, 2, true>(reach, reachCount, firsts, pooled, trace);
        } else {
            int32_t firsts[1] = {topEdge ? topFirst : bottomFirst};
            poolVectors<L, 1, true>(reach, reachCount, firsts, pooled, trace);
        }
        if (topEdge) top += laneCount;
        if (bottomEdge) bottom -= laneCount;
    }
    if (bottom - top + 1 >= laneCount) {
        poolInnerNodes<L>(reach, reachCount, top, bottom, pooled, trace);
    } else if (top <= bottom) {
        int32_t firsts[1] = {std::min(top, g.pooledRows - laneCount + 1)};
        poolVectors<L, 1, true>(reach, reachCount, firsts, pooled, trace);
    }
}

// Pooled columns per band: as many as have their pixel columns, in every orientation, fill at
// most bandBytes; at least one. The columns on either side that the shifts reach are read (and
// rearranged) again for each band, which wider bands waste less of, while a band should stay
// within the caches near the core.
const int64_t bandBytes = int64_t{1} << 20;

int32_t bandColumnsOf(const ImageGeometry& g, int32_t orientCount) {
    int64_t bytesPerColumn = int64_t{orientCount} * g.rows * g.poolStep * static_cast<int64_t>(sizeof(float));
    return static_cast<int32_t>(std::min<int64_t>(g.pooledCols, std::max<int64_t>(1, bandBytes / bytesPerColumn)));
}

// The farthest any slot of any orientation moves a node's column.
int64_t shiftReachOf(const ShiftTable& shifts, int32_t orientCount) {
    int64_t shiftReach = 0;
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        for (int32_t s = 0; s < shifts.shiftCount; ++s) {
            shiftReach = std::max<int64_t>(shiftReach, std::abs(int64_t{shifts.colShift[orient][s]}));
        }
    }
    return shiftReach;
}

// The shape of an image's band of rearranged columns (see ColumnSource): bandCols pixel columns
// at most per orientation, each of poolStep phases of phaseLength values.
struct BandShape {
    int32_t bandCols;
    int64_t phaseLength;
    int64_t columnStride;
    int64_t mapStride;
};

BandShape bandShapeOf(const ImageGeometry& g, int32_t orientCount, int64_t shiftReach) {
    int64_t bandCols = std::min<int64_t>(g.cols, int64_t{bandColumnsOf(g, orientCount)} * g.poolStep + 2 * shiftReach);
    int64_t phaseLength = (int64_t{g.rows} + g.poolStep - 1) / g.poolStep;
    int64_t columnStride = phaseLength * g.poolStep;
    return BandShape{static_cast<int32_t>(bandCols), phaseLength, columnStride, bandCols * columnStride};
}

// Asks the cache for the response columns of `map` that the band after the one ending at
// pooled column bandLast reads and this band does not: the pixel columns from
// bandLast * poolStep + shiftReach + 1 on, bandColumns * poolStep of them (fewer at the
// image's edge), shiftReach being the farthest any slot's column moves. The band's
// computation then hides the wait for them.
void prefetchNextBand(const float* map, const ImageGeometry& g, int32_t bandLast, int32_t bandColumns,
                      int64_t shiftReach) {
    int64_t firstCol = int64_t{bandLast} * g.poolStep + shiftReach + 1;
    int64_t lastCol = std::min<int64_t>(g.cols, firstCol + int64_t{bandColumns} * g.poolStep - 1);
    if (firstCol > lastCol) return;
    const char* from = reinterpret_cast<const char*>(map + (firstCol - 1) * g.rows);
    const char* to = reinterpret_cast<const char*>(map + lastCol * g.rows);
    for (const char* line = from; line < to; line += cacheLineBytes) __builtin_prefetch(line);
}

// The response maps of one image, one pointer per orientation, into `maps`.
void imageMapsOf(const PoolGrids& grids, int32_t image, const float** maps) {
    for (int32_t orient = 0; orient < grids.orientCount; ++orient) {
        maps[orient] = grids.responseMaps[image + orient * grids.imageCount];
    }
}

// Pools the pooled columns bandFirst ... bandLast of every orientation, orientation by
// orientation and column by column, reading the responses from `source`. Each node gets what
// localMaxOverShifts gives at its pixel. The slots' row bounds are settled once per
// orientation, their column bounds once per column, rather than per lookup. rowReach and
// reach hold shiftCount entries each.
template <typename L>
VECTOR_HELPER void poolBand(const ShiftTable& shifts, const PoolGrids& grids, int32_t image, const ImageGeometry& g,
                            const ColumnSource& source, int32_t bandFirst, int32_t bandLast, SlotReach* rowReach,
                            SlotReach* reach) {
    for (int32_t orient = 0; orient < grids.orientCount; ++orient) {
        int32_t rowReachCount = slotsReachingRows(shifts, source, g, orient, rowReach);
        int32_t cell = image + orient * grids.imageCount;
        for (int32_t j = bandFirst; j <= bandLast; ++j) {
            int32_t reachCount = slotsReachingColumn(rowReach, rowReachCount, source, g, j, reach);
            int64_t columnStart = int64_t{j - 1} * g.pooledRows;
            poolColumn<L>(reach, reachCount, g, grids.pooledMaps[cell] + columnStart,
                          grids.traceMaps[cell] + columnStart);
        }
    }
}

// Working memory of one thread: rowReach and reach of shiftCount entries each; maps of
// 2 * orientCount entries, an image's response maps and then its band's maps, one per
// orientation; and with poolStep 2 or more `band`, room for the largest image's band of
// rearranged columns.
struct PoolWork {
    SlotReach* rowReach;
    SlotReach* reach;
    const float** maps;
    float* band;
};

// Pools band number `band` (from 0) of one image: its pooled columns, in every orientation, so
// that the responses it reads stay in cache for all the orientations that read them; the
// columns the next band adds are on their way meanwhile. With poolStep 2 or more, the band's
// columns are first rearranged into phases, so that consecutive nodes meet consecutive values.
template <typename L, Stride stride>
VECTOR_HELPER void poolBandOfImage(const ShiftTable& shifts, const PoolGrids& grids, int32_t image,
                                   const ImageGeometry& g, int64_t shiftReach, const PoolWork& work, int32_t band) {
    int32_t bandColumns = bandColumnsOf(g, grids.orientCount);
    int32_t bandFirst = 1 + band * bandColumns;
    int32_t bandLast = std::min(g.pooledCols, bandFirst + bandColumns - 1);
    imageMapsOf(grids, image, work.maps);
    for (int32_t orient = 0; orient < grids.orientCount; ++orient) {
        prefetchNextBand(work.maps[orient], g, bandLast, bandColumns, shiftReach);
    }
    if (g.poolStep == 1) {
        ColumnSource source{work.maps, 1, g.rows, 1, 0};
        poolBand<L>(shifts, grids, image, g, source, bandFirst, bandLast, work.rowReach, work.reach);
        return;
    }
    BandShape shape = bandShapeOf(g, grids.orientCount, shiftReach);
    const float** bandMaps = work.maps + grids.orientCount;
    for (int32_t orient = 0; orient < grids.orientCount; ++orient) {
        bandMaps[orient] = work.band + orient * shape.mapStride;
    }
    int32_t firstCol = static_cast<int32_t>(std::max<int64_t>(1, int64_t{bandFirst} * g.poolStep - shiftReach));
    int32_t lastCol = static_cast<int32_t>(std::min<int64_t>(g.cols, int64_t{bandLast} * g.poolStep + shiftReach));
    for (int32_t orient = 0; orient < grids.orientCount; ++orient) {
        for (int32_t col = firstCol; col <= lastCol; ++col) {
            splitPhases<L, stride>(work.maps[orient] + int64_t{col - 1} * g.rows, g.rows, g.poolStep,
                                   shape.phaseLength,
                                   work.band + orient * shape.mapStride + (col - firstCol) * shape.columnStride);
        }
    }
    ColumnSource source{bandMaps, firstCol, shape.columnStride, g.poolStep, shape.phaseLength};
    poolBand<L>(shifts, grids, image, g, source, bandFirst, bandLast, work.rowReach, work.reach);
}

template <typename L>
VECTOR_HELPER void poolBandIn(const ShiftTable& shifts, const PoolGrids& grids, int32_t image,
                              const ImageGeometry& g, int64_t shiftReach, const PoolWork& work, int32_t band) {
    if (g.poolStep == 2) {
        poolBandOfImage<L, Stride::two>(shifts, grids, image, g, shiftReach, work, band);
    } else {
        poolBandOfImage<L, Stride::any>(shifts, grids, image, g, shiftReach, work, band);
    }
}

// poolBandIn compiled for AVX2 with eight-lane vectors, and for any x86-64 with four; poolBandAt
// takes the one the processor can run.
AVX2_VERSION void poolBandWide(const ShiftTable& shifts, const PoolGrids& grids, int32_t image,
                               const ImageGeometry& g, int64_t shiftReach, const PoolWork& work, int32_t band) {
    poolBandIn<WideLanes>(shifts, grids, image, g, shiftReach, work, band);
}

void poolBandNarrow(const ShiftTable& shifts, const PoolGrids& grids, int32_t image, const ImageGeometry& g,
                    int64_t shiftReach, const PoolWork& work, int32_t band) {
    poolBandIn<NarrowLanes>(shifts, grids, image, g, shiftReach, work, band);
}

void poolBandAt(const ShiftTable& shifts, const PoolGrids& grids, int32_t image, const ImageGeometry& g,
                int64_t shiftReach, const PoolWork& work, int32_t band) {
    if (avx2Available()) {
        poolBandWide(shifts, grids, image, g, shiftReach, work, band);
    } else {
        poolBandNarrow(shifts, grids, image, g, shiftReach, work, band);
    }
}

// The working memory of threadCount threads, each with room for bandValues rearranged values
// (at least 1).
PoolWork* allocPoolWork(int32_t threadCount, int32_t shiftCount, int32_t orientCount, int64_t bandValues) {
    PoolWork* work = allocArray<PoolWork>(threadCount);
    size_t mapPointers = 2 * static_cast<size_t>(orientCount);
    size_t bandFloats = static_cast<size_t>(std::max<int64_t>(bandValues, 1));
    for (int32_t thread = 0; thread < threadCount; ++thread) {
        work[thread] = PoolWork{allocArray<SlotReach>(shiftCount), allocArray<SlotReach>(shiftCount),
                                static_cast<const float**>(hostCalloc(mapPointers, sizeof(float*))),
                                static_cast<float*>(hostCalloc(bandFloats, sizeof(float)))};
    }
    return work;
}

void freePoolWork(PoolWork* work, int32_t threadCount) {
    for (int32_t thread = 0; thread < threadCount; ++thread) {
        mxFree(work[thread].band);
        mxFree(work[thread].maps);
        mxFree(work[thread].reach);
        mxFree(work[thread].rowReach);
    }
    mxFree(work);
}

// The bands of one image: none without pooled nodes.
int32_t bandCountOf(const ImageGeometry& g, int32_t orientCount) {
    if (g.pooledRows == 0 || g.pooledCols == 0) return 0;
    int32_t bandColumns = bandColumnsOf(g, orientCount);
    return static_cast<int32_t>((int64_t{g.pooledCols} + bandColumns - 1) / bandColumns);
}

// Pools every band of every image, the bands shared out among the threads: each takes runs of
// consecutive bands (shorter runs as the bands run out), so that what a band prefetches is
// mostly the next band of the same thread. Every pooled and trace value is written by the
// thread of its band, from the same slots in the same order as on one thread.
void poolImages(const ShiftTable& shifts, const PoolGrids& grids, const ImageSizes& sizes, int32_t poolStep,
                int64_t shiftReach, int64_t bandValues) {
    PieceList list = cutIntoPieces(grids.imageCount, 1, [&](int32_t image) {
        return bandCountOf(geometryOf(sizes, image, poolStep), grids.orientCount);
    });
    int32_t threadCount = threadCountFor(list.count);
    PoolWork* work = allocPoolWork(threadCount, shifts.shiftCount, grids.orientCount, bandValues);
#pragma omp parallel for schedule(guided) num_threads(threadCount)
    for (int64_t k = 0; k < list.count; ++k) {
        const WorkPiece& piece = list.pieces[k];
        poolBandAt(shifts, grids, piece.item, geometryOf(sizes, piece.item, poolStep), shiftReach,
                   work[threadNumber()], piece.first);
    }
    freePoolWork(work, threadCount);
    mxFree(list.pieces);
}

// Values in the largest band of rearranged columns of any image with nodes; 0 with poolStep 1.
int64_t largestBandValuesOf(const ImageSizes& sizes, int32_t imageCount, int32_t orientCount, int32_t poolStep,
                            int64_t shiftReach) {
    int64_t largest = 0;
    for (int32_t image = 0; image < imageCount && poolStep > 1; ++image) {
        ImageGeometry g = geometryOf(sizes, image, poolStep);
        if (g.pooledRows == 0 || g.pooledCols == 0) continue;
        largest = std::max(largest, int64_t{orientCount} * bandShapeOf(g, orientCount, shiftReach).mapStride);
    }
    return largest;
}

int32_t largestNodeCountOf(const ImageSizes& sizes, int32_t imageCount, int32_t poolStep) {
    int32_t largest = 0;
    for (int32_t image = 0; image < imageCount; ++image) {
        ImageGeometry g = geometryOf(sizes, image, poolStep);
        largest = std::max(largest, g.pooledRows * g.pooledCols);
    }
    return largest;
}

const char* const argNames[] = {"imageCount",     "imageRows", "imageCols",    "orientCount", "posShiftMax",
                                "orientShiftMax", "poolStep",  "responseMaps", "pooledMaps",  "traceMaps"};

void vindral(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    ShiftParams q = readShiftParams(args, largestSideOf(sizes, imageCount));
    int32_t orientCount = q.orientCount;
    int32_t poolStep = q.poolStep;
    auto responseValues = [&](int32_t image) { return imageValueCount(sizes, image); };
    requireShiftsJustified(q.positions, orientCount, q.posShiftMax, q.orientShiftMax,
                           gridValuesForShifts(imageCount, orientCount, responseValues));
    auto pooledValues = [&](int32_t image) {
        ImageGeometry g = geometryOf(sizes, image, poolStep);
        return static_cast<int64_t>(g.pooledRows) * g.pooledCols;
    };
    const float* const* responseMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read, responseValues);
    float* const* pooledMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, pooledValues);
    float* const* traceMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, pooledValues);
    endArgs(args);

    // Images without pooled nodes have nothing to pool; without any, no table is needed.
    int32_t largestNodeCount = largestNodeCountOf(sizes, imageCount, poolStep);
    if (largestNodeCount == 0) return;
    ShiftTable shifts = buildShiftTables(orientCount, q.posShiftMax, q.orientShiftMax, poolStep);
    PoolGrids grids{responseMaps, pooledMaps, traceMaps, imageCount, orientCount};
    int64_t shiftReach = shiftReachOf(shifts, orientCount);
    poolImages(shifts, grids, sizes, poolStep, shiftReach,
               largestBandValuesOf(sizes, imageCount, orientCount, poolStep, shiftReach));
    freeShiftTables(shifts, orientCount);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("vindral", vindral, nlhs, nrhs, prhs);
}
