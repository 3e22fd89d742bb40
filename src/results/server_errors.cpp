#include "results/server_errors.h"

SendVerdict RESULTS_VerdictOfFailure(const std::string& sqlstate) {
    if (sqlstate.size() != 5) return SendVerdict::TryLater;
    const std::string cls = sqlstate.substr(0, 2);
    return cls == "22" || cls == "23" ? SendVerdict::RowRefused : SendVerdict::TryLater;
}
