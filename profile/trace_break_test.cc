#include "profile/trace_break.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// Two stand-in folders for tracefs' places, each holding the files a row
// names ("trace_marker tracing_on"; a trailing / makes it a folder, which no
// one may open for writing, root included); "-": the folder is missing.
// The texts name the folders @1 and @2; the break writes at iteration 123,
// output 30, delay 6000 us.
struct trace_case {
    const char* name;
    const char* first;
    const char* second;
    bool broke;
    const char* text;
    const char* json;
    const char* marker;  // trace_marker's content after the run
    const char* on;      // tracing_on's
};

const trace_case trace_cases[] = {
    {"found", "trace_marker tracing_on", "-", false, "tracefs: @1\n",
     "\"trace\": {\"tracefs\": \"@1\", \"refused\": null, \"break\": null}", "", ""},
    {"found_after_an_empty_folder", "", "trace_marker tracing_on", false, "tracefs: @2\n",
     "\"trace\": {\"tracefs\": \"@2\", \"refused\": null, \"break\": null}", "", ""},
    {"missing_folders", "-", "-", false, "tracefs: not found\n",
     "\"trace\": {\"tracefs\": null, \"refused\": \"tracefs: not found\", \"break\": null}", nullptr, nullptr},
    {"unwritable_marker", "trace_marker/ tracing_on", "trace_marker tracing_on", false,
     "tracefs: @1, trace_marker: EISDIR 21: Is a directory\n",
     "\"trace\": {\"tracefs\": \"@1\", \"refused\": \"trace_marker: EISDIR 21: Is a directory\", \"break\": null}",
     nullptr, ""},
    {"unwritable_tracing_on_nothing_written", "trace_marker tracing_on/", "-", true,
     "tracefs: @1, tracing_on: EISDIR 21: Is a directory\nbreak: run stopped, no trace marked\n",
     "\"trace\": {\"tracefs\": \"@1\", \"refused\": \"tracing_on: EISDIR 21: Is a directory\", \"break\": "
     "{\"marker_written\": false, \"marker_refused\": null, \"tracing_stopped\": false, \"stop_refused\": null}}",
     "", nullptr},
    {"break_marks_and_stops", "trace_marker tracing_on", "-", true, "tracefs: @1\nbreak: marker written, tracing stopped\n",
     "\"trace\": {\"tracefs\": \"@1\", \"refused\": null, \"break\": "
     "{\"marker_written\": true, \"marker_refused\": null, \"tracing_stopped\": true, \"stop_refused\": null}}",
     "plc_do_profile: break at iteration 123, output 30, delay 6000 us\n", "0"},
    {"break_without_tracefs", "-", "-", true, "tracefs: not found\nbreak: run stopped, no trace marked\n",
     "\"trace\": {\"tracefs\": null, \"refused\": \"tracefs: not found\", \"break\": "
     "{\"marker_written\": false, \"marker_refused\": null, \"tracing_stopped\": false, \"stop_refused\": null}}",
     nullptr, nullptr},
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

void make_folder(const std::string& dir, const char* files) {
    if (std::string(files) == "-") return;
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    std::istringstream names(files);
    for (std::string name; names >> name;) {
        std::string path = dir + "/" + name;
        if (name.back() == '/') {
            ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        } else {
            std::ofstream(path.c_str());
        }
    }
}

// The file's content, or null text when it is no file.
std::string content(const std::string& path, bool* is_file) {
    struct stat status;
    *is_file = stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
    if (!*is_file) return "";
    std::ifstream in(path.c_str());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void expect_content(const std::string& path, const char* expected) {
    bool is_file = false;
    std::string text = content(path, &is_file);
    if (expected == nullptr) {
        EXPECT_FALSE(is_file) << path;
    } else {
        EXPECT_TRUE(is_file) << path;
        EXPECT_EQ(text, expected) << path;
    }
}

template <typename Print>
std::string printed(Print print) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    print(out);
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}

void PrintTo(const trace_case& row, std::ostream* out) { *out << row.name; }

class TraceBreak : public testing::TestWithParam<trace_case> {};

TEST_P(TraceBreak, OpensMarksAndSays) {
    const trace_case& c = GetParam();
    char top[] = "/tmp/trace_break_XXXXXX";
    ASSERT_NE(mkdtemp(top), nullptr);
    const std::string first = std::string(top) + "/tracing", second = std::string(top) + "/debug_tracing";
    make_folder(first, c.first);
    make_folder(second, c.second);
    const char* folders[] = {first.c_str(), second.c_str()};
    trace_files files;
    open_trace_files_in(&files, folders, 2);
    if (c.broke) break_trace(&files, 123, 30, 6000);
    close_trace_files(&files);
    std::string text = printed([&](FILE* out) { print_trace_text(out, files, c.broke); });
    std::string json = printed([&](FILE* out) { print_trace_json(out, files, c.broke); });
    EXPECT_EQ(text, replaced(replaced(c.text, "@1", first), "@2", second));
    EXPECT_EQ(json, replaced(replaced(c.json, "@1", first), "@2", second));
    const std::string& found = files.dir == second ? second : first;
    expect_content(found + "/trace_marker", c.marker);
    expect_content(found + "/tracing_on", c.on);
    std::string remove = std::string("rm -rf ") + top;
    EXPECT_EQ(system(remove.c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, TraceBreak, testing::ValuesIn(trace_cases),
                         [](const testing::TestParamInfo<trace_case>& row) { return std::string(row.param.name); });

}  // namespace
