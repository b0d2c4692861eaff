// Windows side of the usage-event sender: the WinHTTP POST and the event threads, with the host
// given explicitly (TrackEvent uses the product's analytics host).
#pragma once

#include <string_view>

#include "analytics/uAnalytics.h"

namespace qv {

// One HTTPS POST of a JSON body to host[:port] (port 443 when none is given).
TPostOutcome PostJsonOverWinHttp(std::string_view hostPort, const std::string& pathAndQuery,
                                 std::string_view body);

// TrackEvent towards an explicit host[:port].
void TrackEventTo(std::string_view hostPort, std::string_view eventName, std::string_view reason);

}  // namespace qv
