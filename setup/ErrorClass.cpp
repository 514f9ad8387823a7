#include "setup/ErrorClass.h"

#include <boost/format.hpp>

std::wstring errorText(const ErrorClass& error) {
    switch (error.errorType) {
        case ErrorClass::kDownloadError:
            return (boost::wformat(L"Download Error (system code: %i). ") % error.systemCode).str();
        case ErrorClass::kServerError:
            return (boost::wformat(L"Server Error (system code: %i). ") % error.systemCode).str();
        default:
            return kInternalErrorText;
    }
}
