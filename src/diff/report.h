#pragma once

#include <string>

#include "diff/diff.h"

// The report of a comparison, for people (aligned text, colour on request) and for tools (one
// JSON document, or CSV with one row per question). All text comes out as UTF-8.
namespace nvram::diff {

struct ReportOptions {
  bool all = false;    // list the agreeing questions too
  bool color = false;  // terminal colours in the text report
};

std::string format_text(const Report& report, const ReportOptions& options);
std::string format_json(const Report& report, const ReportOptions& options);
std::string format_csv(const Report& report, const ReportOptions& options);

}  // namespace nvram::diff
