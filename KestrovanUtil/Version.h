#pragma once
// Version texts of the deliverables.
constexpr const char* kServerVersion = "1.0.23.0510";
constexpr const char* kAdapterVersion = "1,1,19,926";
constexpr const char* kMonitorVersion = "1.0.20.0309";
// Build date and time of this image, as the build banner prints them.
const char* buildDate();
const char* buildTime();
