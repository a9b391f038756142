// gastrel: scores a template of oriented elements against the pooled response maps of a set
// of images at every placement of its anchor on the pooled grid, and adds the scores into one
// score map per image.
//
// Compiled with GASTREL_BLOCK, the same source is gastrelblock: it scores again, in place, only
// the anchors of one block per image (four more arguments give each block's bounds), so that a
// search can bring the placements an inhibition touched up to date without scoring the whole
// map. A block's new scores are those gastrel adds into a zero map; a placement holding the
// ruled-out score single(-1e10) keeps it.

#include "frame.h"
#include "placement.h"
#include "scoring.h"

namespace {

using scoring::AnchorGrid;
using scoring::ImageGeometry;
using scoring::geometryOf;

#ifdef GASTREL_BLOCK
const char* const pluginName = "gastrelblock";
// Whether the scores are set anew (gastrelblock) or added to (gastrel).
constexpr scoring::ScoreMode scoreMode = scoring::ScoreMode::rescore;
#else
const char* const pluginName = "gastrel";
constexpr scoring::ScoreMode scoreMode = scoring::ScoreMode::add;
#endif

// 0-based position of scoreMaps, for the size refusal made before it is read.
const int32_t scoreMapsPosition = 14;

const char* const argNames[] = {"imageCount",        "imageRows",         "imageCols",      "orientCount",
                                "poolStep",          "templateRows",      "templateCols",   "elementCount",
                                "elementOrients",    "elementRowOffsets", "elementColOffsets",
                                "elementWeights",    "elementBiases",     "pooledMaps",     "scoreMaps",
                                "normalizerMaps",    "saturationLevel"
#ifdef GASTREL_BLOCK
                                ,
                                "firstAnchorRows",   "lastAnchorRows",    "firstAnchorCols", "lastAnchorCols"
#endif
};

void gastrel(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    int32_t orientCount = readIntArg(args, 1);
    int32_t poolStep = readIntArg(args, 1);
    int32_t templateRows = readIntArg(args, 0);
    int32_t templateCols = readIntArg(args, 0);
    int32_t elementCount = readIntArg(args, 0);
    const double* orients = readIntArrayArg(args, elementCount, 0, orientCount - 1);
    const double* rowOffsets = readIntArrayArg(args, elementCount);
    const double* colOffsets = readIntArrayArg(args, elementCount);
    const double* weights = readArrayArg<double>(args, elementCount, Access::read);
    const double* biases = readArrayArg<double>(args, elementCount, Access::read);
    auto geometry = [&](int32_t image) { return geometryOf(sizes, image, poolStep, templateRows, templateCols); };
    auto pooledValues = [&](int32_t image) {
        ImageGeometry g = geometry(image);
        return static_cast<int64_t>(g.pooledRows) * g.pooledCols;
    };
    auto scoreValues = [&](int32_t image) {
        ImageGeometry g = geometry(image);
        return scoreValueCountOf(templateRows, templateCols, g.rows, g.cols, poolStep);
    };
    auto imageValues = [&](int32_t image) { return imageValueCount(sizes, image); };
    scoring::ScoreGrids grids;
    grids.imageCount = imageCount;
    grids.pooledMaps = readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read, pooledValues);
    requireScoreMapsIndexable(args, scoreMapsPosition, sizes, imageCount, templateRows, templateCols, poolStep);
    grids.scoreMaps = readCellList<float>(args, imageCount, Access::written, scoreValues);
    grids.normalizerMaps = readCellList<float>(args, imageCount, Access::read, imageValues);
    double saturationLevel = readRealArg(args, RealRule::finiteNonzero);
#ifdef GASTREL_BLOCK
    BlockBounds block = readBlockBounds(args, imageCount);
    const BlockBounds* bounds = &block;
#else
    const BlockBounds* bounds = nullptr;
#endif
    endArgs(args);

    AnchorGrid* anchorGrids = scoring::anchorGridsOf(sizes, imageCount, poolStep, templateRows, templateCols, bounds);
    scoring::TemplateElement* elements =
        scoring::convertElements(elementCount, orients, rowOffsets, colOffsets, weights, biases);
    scoring::scoreImages(scoring::ScoreCall{elements, elementCount, grids, sizes, anchorGrids, poolStep, templateRows,
                                            templateCols, saturationLevelOf(saturationLevel), scoreMode});
    mxFree(elements);
    mxFree(anchorGrids);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin(pluginName, gastrel, nlhs, nrhs, prhs);
}
