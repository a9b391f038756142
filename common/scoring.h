// Scoring a template of oriented elements on pooled response maps, shared by the plug-ins that
// score placements: each placement's score is the sum, over the elements in order, of
// w * saturate(r / n, s) - b inside the pooled map (r the element's pooled value, n the
// normalizer under the template's centre) and -b outside, each term formed in double and added
// to the single-precision score. A score is either added into the score map or set there anew
// (keeping a placement ruled out at ruledOutScore), and the anchors of each image's score map
// are cut into pieces of columns that threads share, each piece's scores computed by one
// thread exactly as on one thread.
#pragma once

#include <cstdint>

#include "frame.h"
#include "placement.h"
#include "threads.h"
#include "vector_saturation.h"

namespace scoring {

// One template element with its orientation and offsets rounded once per call.
struct TemplateElement {
    int32_t orient;
    int32_t rowOffset;
    int32_t colOffset;
    double weight;
    double bias;
};

// Rounds the element arrays once (host memory; release with mxFree): orientations and offsets
// to integers, weights and biases as given.
TemplateElement* convertElements(int32_t elementCount, const double* orients, const double* rowOffsets,
                                 const double* colOffsets, const double* weights, const double* biases);

// The maps of one call: pooledMaps by image + orient * imageCount, the others by image.
struct ScoreGrids {
    const float* const* pooledMaps;
    float* const* scoreMaps;
    const float* const* normalizerMaps;
    int32_t imageCount;
};

// One image's full-resolution, pooled and score-map sizes. Score position (rho, sigma) belongs
// to the anchor (rho - rowsPooled, sigma - colsPooled) of the template geometry.
struct ImageGeometry {
    int32_t rows;
    int32_t cols;
    int32_t pooledRows;
    int32_t pooledCols;
    int64_t scoreRows;
    int64_t scoreCols;
};

ImageGeometry geometryOf(const ImageSizes& sizes, int32_t image, int32_t poolStep, int32_t templateRows,
                         int32_t templateCols);

// The anchors of one side: first, first + 1, ..., first + count - 1.
struct AnchorSpan {
    int32_t first;
    int32_t count;
};

// The anchors of one image, rows and columns: anchor (rows.first + a, cols.first + b) has
// score position (a + 1, b + 1). Both counts are 0 when either side has no anchor.
struct AnchorGrid {
    AnchorSpan rows;
    AnchorSpan cols;
};

// Every anchor of an image: 1 - rowsPooled ... pooledRows by 1 - colsPooled ... pooledCols.
// Requires a score map that requireScoreMapsIndexable admitted.
AnchorGrid anchorGridOf(const ImageGeometry& g, const TemplateGeometry& t);

// Per image, every anchor (bounds null), or the block of them the bounds name, each bound
// rounded half up and clipped to the image's anchors (an infinite bound reaches the edge), no
// anchor when a bound is NaN or nothing is left. Host memory; release with mxFree.
AnchorGrid* anchorGridsOf(const ImageSizes& sizes, int32_t imageCount, int32_t poolStep, int32_t templateRows,
                          int32_t templateCols, const BlockBounds* bounds);

// The score a placement keeps once ruled out (lurvane's floor): rescoring never changes it.
constexpr float ruledOutScore = -1e10f;

// Whether scores are added into the score maps, or set anew in place except where a
// placement holds ruledOutScore.
enum class ScoreMode { add, rescore };

// What a call scores: the template, its maps, and per image the anchors to score.
struct ScoreCall {
    const TemplateElement* elements;
    int32_t elementCount;
    ScoreGrids grids;
    ImageSizes sizes;
    const AnchorGrid* anchorGrids;
    int32_t poolStep;
    int32_t templateRows;
    int32_t templateCols;
    SaturationLevel level;
    ScoreMode mode;
};

// An element as it falls on one image (defined in scoring.cpp).
struct PlacedElement;

// Working memory of one thread: where the elements fall on the image it scores (set for image
// placedImage; -1 before the first), a column of normalizers and one of fresh scores.
struct ThreadScoring {
    PlacedElement* placed;
    float* columnNormalizers;
    float* freshScores;
    int32_t placedImage;
};

// The pieces of a call (every image's anchor columns cut into pieces of a few columns, in image
// order) and working memory for threadCount threads, taken on the calling thread before any
// score is written; release with releaseScoring.
struct ScoringWork {
    PieceList list;
    int32_t threadCount;
    int32_t elementCount;
    int32_t columnLength;
    PlacedElement** placed;
    float** columnNormalizers;
    float** freshScores;
};

// Work for the call's pieces on threadCountFor(pieces + otherItems) threads, where otherItems
// counts work of the caller's that the same threads share.
ScoringWork prepareScoring(const ScoreCall& call, int64_t otherItems);

void releaseScoring(const ScoringWork& work);

// The working memory of thread `thread` (0 ... work.threadCount - 1).
ThreadScoring threadScoringOf(const ScoringWork& work, int32_t thread);

// Scores one piece on the calling thread with that thread's memory. Safe on any thread; each
// piece must be scored by one thread only.
void scorePiece(const ScoreCall& call, const WorkPiece& piece, ThreadScoring& memory);

// Scores every piece, the threads sharing them out.
void scoreImages(const ScoreCall& call);

}  // namespace scoring
