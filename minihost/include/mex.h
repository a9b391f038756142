/* The part of the C MEX interface that the plug-ins and their tests use, served by the
 * in-repository test host instead of Octave or MATLAB. The declarations follow the documented
 * C API, so the same plug-in sources compile unchanged against the real hosts' mex.h. */
#ifndef MINIHOST_MEX_H
#define MINIHOST_MEX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT32_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX } mxComplexity;

/* The entry point every plug-in exports. */
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

/* Host operations. */
double mxGetScalar(const mxArray* array);
double* mxGetPr(const mxArray* array);
void* mxGetData(const mxArray* array);
void* mxGetImagData(const mxArray* array);
size_t mxGetElementSize(const mxArray* array);
mwSize mxGetNzmax(const mxArray* array);
mxArray* mxGetCell(const mxArray* array, mwIndex index);
void* mxCalloc(size_t count, size_t size);
void* mxMalloc(size_t bytes);
void mxFree(void* block);
int mexPrintf(const char* format, ...);
void mexErrMsgIdAndTxt(const char* id, const char* format, ...);

/* Queries used by argument checking. */
bool mxIsCell(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsSingle(const mxArray* array);
bool mxIsNumeric(const mxArray* array);
bool mxIsLogical(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
mwSize mxGetNumberOfDimensions(const mxArray* array);
const mwSize* mxGetDimensions(const mxArray* array);
const char* mxGetClassName(const mxArray* array);

/* Array construction, used by tests and benchmarks to play the caller's part. */
mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity);
mxArray* mxCreateNumericMatrix(mwSize rows, mwSize cols, mxClassID classId, mxComplexity complexity);
mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classId, mxComplexity complexity);
mxArray* mxCreateDoubleScalar(double value);
mxArray* mxCreateLogicalScalar(bool value);
mxArray* mxCreateString(const char* text);
mxArray* mxCreateSparse(mwSize rows, mwSize cols, mwSize nzmax, mxComplexity complexity);
mxArray* mxCreateCellMatrix(mwSize rows, mwSize cols);
void mxSetCell(mxArray* cell, mwIndex index, mxArray* value);
void mxDestroyArray(mxArray* array);

#ifdef __cplusplus
}
#endif

#endif
