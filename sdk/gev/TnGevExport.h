// Symbol visibility of libTnGevProtocol: what it offers the other SDK
// libraries is declared TN_GEV_API; everything else stays hidden.
#ifndef TN_GEV_EXPORT_H
#define TN_GEV_EXPORT_H

#include "TnExport.h"

#define TN_GEV_API TN_EXPORT

#endif
