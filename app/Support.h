#pragma once
// Where users send us the details of a failure: the report of unexpected errors and the warning
// after a picture failed to load both name this address.

inline constexpr char SupportMailAddress[] = "velmora-support@example.org";
