// Reading ahead what an inhibition is about to read (readAheadInhibition of inhibit.h): the
// same ranges that its rules (inhibit.cpp) work on, read one value per cache line and summed
// only so that the reads are made.
#include <algorithm>

#include "dispatch.h"
#include "inhibit.h"
#include "inhibit_work.h"

using namespace inhibition;

namespace {

// Reads one value of every cache line of values first ... first + count - 1, so that the line
// and the page that holds it are at hand when they are next needed. (A prefetch instruction is
// not enough: a processor may drop it when the page is not in its address cache.) The sum is
// kept in `sink` so that the reads are made.
template <typename T>
void touchRun(const T* first, int64_t count, unsigned& sink) {
    if (count <= 0) return;
    const unsigned char* from = reinterpret_cast<const unsigned char*>(first);
    const unsigned char* last = reinterpret_cast<const unsigned char*>(first + count) - 1;
    unsigned sum = 0;
    for (const unsigned char* line = from; line < last; line += cacheLineBytes) sum += *line;
    sink += sum + *last;
}

// Touches the values of rows x cols (1-based, clipped to the map) of a column-major map of
// mapRows x mapCols values.
template <typename T>
void touchArea(const T* map, int32_t mapRows, int32_t mapCols, int64_t rowFirst, int64_t rowLast, int64_t colFirst,
               int64_t colLast, unsigned& sink) {
    rowFirst = std::max<int64_t>(rowFirst, 1);
    rowLast = std::min<int64_t>(rowLast, mapRows);
    colFirst = std::max<int64_t>(colFirst, 1);
    colLast = std::min<int64_t>(colLast, mapCols);
    for (int64_t col = colFirst; col <= colLast; ++col) {
        touchRun(map + (col - 1) * mapRows + (rowFirst - 1), rowLast - rowFirst + 1, sink);
    }
}

}  // namespace

void readAheadInhibition(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                         int32_t image, int32_t selOrient, int32_t x, int32_t y, InhibitWork& work) {
    unsigned& sink = work.touched;
    int32_t reach = 2 * grids.filterHalf;
    Span rows = spanInside(x, reach, extent.mapRows);
    Span cols = spanInside(y, reach, extent.mapCols);
    if (isEmpty(rows) || isEmpty(cols)) return;
    // The responses of each orientation to read, gathered into one box per orientation so
    // that what suppression and several sweeps share is read once.
    ReadBox* boxes = work.readBoxes;
    for (int32_t b = 0; b < grids.orientCount; ++b) boxes[b] = ReadBox{1, 0, 1, 0};
    // Suppression reads all but the responses under factors 1 in blocks known to hold no NaN.
    int32_t blocks = nanBlocksOf(extent.mapRows);
    for (int32_t b = 0; b < grids.orientCount; ++b) {
        if (cellOf(work, grids, selOrient, b).kind != FactorKind::identity) {
            boxes[b] = ReadBox{rows.first, rows.last, cols.first, cols.last};
            continue;
        }
        const float* responses = grids.responseMaps[image + b * grids.imageCount];
        const uint8_t* flags = nanFlagsOf(work, extent, image, b);
        for (int32_t yi = cols.first; yi <= cols.last; ++yi) {
            for (int32_t j = (rows.first - 1) / nanBlockRows; j <= (rows.last - 1) / nanBlockRows; ++j) {
                if (flags[int64_t{yi - 1} * blocks + j] == nanFree) continue;
                int64_t first = int64_t{j} * nanBlockRows;
                touchRun(responses + int64_t{yi - 1} * extent.mapRows + first,
                         std::min<int64_t>(nanBlockRows, extent.mapRows - first), sink);
            }
        }
    }
    // Re-pooling reads the trace and pooled values of the positions that can have been wiped
    // out, and the responses their slots reach.
    const PoolWindow& window = extent.window;
    Span range[2] = {repoolSpan(x, reach, grids.poolStep, grids.posShiftMax, window.rowLo, window.rowHi),
                     repoolSpan(y, reach, grids.poolStep, grids.posShiftMax, window.colLo, window.colHi)};
    if (!isEmpty(range[0]) && !isEmpty(range[1])) {
        RepoolSite site{shifts, grids, extent, image, selOrient, x, y, range[0], range[1]};
        int64_t step = grids.poolStep;
        for (int32_t o = 0; o < grids.orientCount; ++o) {
            Rect candidates = reachOfSlots(site, work, o);
            if (isEmpty(candidates.rows) || isEmpty(candidates.cols)) continue;
            int32_t c = image + o * grids.imageCount;
            for (const float* map : {grids.traceMaps[c], grids.pooledMaps[c]}) {
                touchArea(map, extent.pooledRows, extent.pooledCols, candidates.rows.first, candidates.rows.last,
                          candidates.cols.first, candidates.cols.last, sink);
            }
            // The slots of o move along its direction only: the pixels they reach lie within
            // its smallest and largest shifts of the candidates' pixels.
            int64_t rowShiftLo = 0, rowShiftHi = 0, colShiftLo = 0, colShiftHi = 0;
            for (int32_t q = 0; q < shifts.shiftCount; ++q) {
                rowShiftLo = std::min<int64_t>(rowShiftLo, shifts.rowShift[o][q]);
                rowShiftHi = std::max<int64_t>(rowShiftHi, shifts.rowShift[o][q]);
                colShiftLo = std::min<int64_t>(colShiftLo, shifts.colShift[o][q]);
                colShiftHi = std::max<int64_t>(colShiftHi, shifts.colShift[o][q]);
            }
            ReadBox reached{candidates.rows.first * step + rowShiftLo, candidates.rows.last * step + rowShiftHi,
                            candidates.cols.first * step + colShiftLo, candidates.cols.last * step + colShiftHi};
            for (int32_t q = 0; q < shifts.shiftCount; ++q) {
                ReadBox& box = boxes[shifts.shiftedOrient[o][q]];
                if (box.rowFirst > box.rowLast) {
                    box = reached;
                    continue;
                }
                box = ReadBox{std::min(box.rowFirst, reached.rowFirst), std::max(box.rowLast, reached.rowLast),
                              std::min(box.colFirst, reached.colFirst), std::max(box.colLast, reached.colLast)};
            }
        }
    }
    for (int32_t b = 0; b < grids.orientCount; ++b) {
        const ReadBox& box = boxes[b];
        if (box.rowFirst > box.rowLast) continue;
        touchArea(grids.responseMaps[image + b * grids.imageCount], extent.mapRows, extent.mapCols, box.rowFirst,
                  box.rowLast, box.colFirst, box.colLast, sink);
    }
}
