// The stream-information records of the audio codecs, for callers that
// handle them together; each record lives with its codec's parser.
#pragma once

#include "streams/dts_parser.h"
#include "streams/lpcm_parser.h"
#include "streams/mlp_parser.h"
#include "streams/sif_data.h"
