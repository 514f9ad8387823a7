#include "setup/ExitStatus.h"

int exitStatus(RunFailure failure) {
    switch (failure) {
        case RunFailure::None:
            return 0;
        case RunFailure::StartFailed:
            return 1;
    }
    return 1;
}
