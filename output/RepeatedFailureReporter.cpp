#include "output/RepeatedFailureReporter.h"

#include "common/ErrorText.h"

#include <utility>

TRepeatedFailureReporter::TRepeatedFailureReporter(Report report, Showing showing, std::chrono::milliseconds patience)
    : FReport(std::move(report)), FShowing(std::move(showing)), FPatience(patience)
{}

void TRepeatedFailureReporter::Failed(const std::string& message, bool definite, Clock::time_point began)
{
    if (!FFailingSince)
        FFailingSince = began;
    if ((FShowing && FShowing()) || FReported == message)
        return;
    if (!definite && Clock::now() - *FFailingSince < FPatience)
        return;
    // Settled before the report: its modal loop runs further ticks.
    FReported = message;
    FReport(message);
}

void TRepeatedFailureReporter::FailedNow() noexcept
{
    try {
        Failed(CurrentExceptionMessage(), true, Clock::now());
    } catch (...) {
        // Nothing sensible is left to do if the report itself fails.
    }
}
