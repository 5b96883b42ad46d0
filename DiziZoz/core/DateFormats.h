#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DiziZoz/core/Value.h"

namespace platform {
class Clock;
}

namespace dizizoz {

// The client's date texts. All are UTC and independent of the process locale; all functions may run on
// any thread.

// The wire form of event and log timestamps: "2024-01-02T03:04:05.678Z" (milliseconds, truncated).
std::string toISO8601String(Date date);
// Reads the milliseconds form, else the seconds form ("2024-01-02T03:04:05Z"); anything else, including
// out-of-range fields, gives nothing.
std::optional<Date> toISO8601Date(std::string_view text);

// The internet date-time form without a fraction ("2024-01-02T03:04:05Z"): how the sanitiser writes dates.
std::string toInternetDateTimeString(Date date);

// An HTTP date such as "Wed, 21 Oct 2015 07:28:00 GMT" (zone GMT or UTC); nothing when it does not match.
std::optional<Date> parseHttpDate(std::string_view text);

// Now as nanoseconds since 1970 in decimal.
std::string nanosNow();
std::string nanosNow(const platform::Clock& clock);

// Seconds to wait from a Retry-After header: a finite non-negative decimal number ("120", "1.5"), or an
// HTTP date turned into the seconds from `now` (0 when it is past), a date past what the clock holds
// included (year 9999: a wait longer than the clock holds, as addingSeconds takes it). Nothing for
// anything else: negative numbers, "inf", "nan", hexadecimal, surrounding blanks.
std::optional<double> parseRetryAfter(std::string_view text, Date now);
std::optional<double> parseRetryAfter(std::string_view text);

// `date` plus `seconds`, for waits whose length comes from outside (a server's Retry-After may say 1e20):
// a time past what the clock can hold is the latest it holds, and a negative or NaN wait is none.
Date addingSeconds(Date date, double seconds);

}  // namespace dizizoz
