// The exports of transpose.dll.
#include "common/ServerExports.h"
#include "transpose/Transpose.h"

SAMPLE_FILTER_SERVER(Transpose, CLSID_Transpose, CLSID_TransposePage, "Transpose")
