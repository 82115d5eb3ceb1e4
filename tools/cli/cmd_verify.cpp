// verify: checks an export folder against its report, one line per check and a summary; with
// --image, also the exported frames against the GOP records they were read from.
#include <iostream>

#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "verify/report_check.h"

namespace cli {
namespace {

void print_checks(const Json& doc, std::ostream& out) {
    for (const Json& c : doc["checks"]) out << c.get<std::string>() << '\n';
    out << doc["summary"].get<std::string>() << '\n';
}

}  // namespace

int run_verify(const GlobalOptions& options, const VerifyOptions& v) {
    const verify::VerifyOutcome outcome = verify::verify_report(v.report, verify::VerifyOptions{v.image});
    if (outcome.status == verify::kVerifyUnusable) return usage_error("verify: " + outcome.error);
    emit(options.json,
         Json{{"report", v.report},
              {"image", v.image.empty() ? Json(nullptr) : Json(v.image)},
              {"result", outcome.status == verify::kVerifyMatch ? "match" : "mismatch"},
              {"checked", outcome.checked},
              {"mismatches", outcome.mismatches},
              {"checks", outcome.lines},
              {"summary", verify::verify_summary(outcome)}},
         print_checks);
    return outcome.status == verify::kVerifyMatch ? kExitOk : kExitFailure;
}

}  // namespace cli
