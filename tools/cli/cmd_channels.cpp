// channels: the roles and sizes of the selected session's channels.
#include <ostream>

#include "storage/api.h"
#include "tools/cli/channel_roles.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

namespace cli {
namespace {

void print_channels(const Json& doc, std::ostream& out) {
    out << "Display channels: " << cell(doc["display_channels"]) << '\n';
    TextTable table({"CHANNEL", "ROLE", "SIZE"});
    for (const Json& c : doc["channels"]) {
        std::string role = cell(c["role"]);
        if (c.contains("number")) role.append(" ").append(cell(c["number"]));
        table.add({cell(c["channel"]), role, cell(c["size"])});
    }
    table.print(out);
}

}  // namespace

int run_channels(const GlobalOptions& options, const SessionOptions& session) {
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    const int32_t count = backup_channel_count();
    Json doc;
    doc["display_channels"] = api_display_channels();
    Json channels = Json::array();
    for (int32_t c = 0; c < count; ++c) {
        const ChannelRole role = channel_role(c, count);
        Json entry;
        entry["channel"] = c;
        entry["role"] = role.name;
        if (role.number > 0) entry["number"] = role.number;
        entry["size"] = backup_channel_size(c);
        channels.push_back(std::move(entry));
    }
    doc["channels"] = std::move(channels);
    emit(options.json, doc, print_channels);
    return scope.finish(kExitOk);
}

}  // namespace cli
