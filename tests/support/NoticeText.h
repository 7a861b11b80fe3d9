#pragma once

#include <string>

#include "JobObserver.h"

// A job's notice as a test records it: its kind and the path, "CannotWrite /dev/full".
inline std::string Describe(const JobNotice& notice) {
    switch (notice.kind) {
        case JobNotice::Kind::CannotOpenOutput:
            return "CannotOpenOutput " + notice.path;
        case JobNotice::Kind::CannotWrite:
            return "CannotWrite " + notice.path;
        case JobNotice::Kind::SizeLimit:
            return "SizeLimit " + notice.path;
    }
    return "?";
}
