// The fuzz targets' assertion: a broken property ends the run the way a
// crash does, so that libFuzzer keeps the input.  Unlike assert it stays in
// optimised builds.
#pragma once

#include <cstdlib>

namespace quellin::fuzz {

inline void Check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace quellin::fuzz
