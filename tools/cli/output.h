// What the tool prints: one JSON document or aligned text on standard output, and one line
// per error on standard error.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

// Members keep the order in which the commands add them, which is the order people read.
using Json = nlohmann::ordered_json;

// Writes the document as JSON, or as text through the command's printer.
using TextPrinter = void (*)(const Json& doc, std::ostream& out);
void emit(bool json, const Json& doc, TextPrinter print_text);

// "quillon-cli: what" on standard error; returns kExitFailure.
int fail(const std::string& what);
// "quillon-cli: what: message (code)" with the disk layer's message for the code.
int fail(const std::string& what, int32_t code);
// "no mountable disk", with the count of failed reads when reads failed during the scan: a
// damaged or incomplete image then looks like no recorder disk at all.
std::string no_mountable_disk();

// "quillon-cli: what" on standard error; returns kExitUsage.
int usage_error(const std::string& what);

// "YYYY-MM-DD HH:MM:SS" of the recorder's wall clock, never shifted by a time zone.
std::string time_text(uint32_t time);
// Sets key to the time stamp and key + "_text" to its text, or null for 0 (no time).
void put_time(Json& object, const std::string& key, uint32_t time);

// Rows of text padded to the widest cell of each column, under an optional header row.
class TextTable {
  public:
    explicit TextTable(std::vector<std::string> headers = {});
    void add(std::vector<std::string> row);
    void print(std::ostream& out, const std::string& indent = "") const;

  private:
    std::vector<std::vector<std::string>> rows_;
};

// Text of a scalar JSON value as a table cell: strings unquoted, null as "-".
std::string cell(const Json& value);

}  // namespace cli
