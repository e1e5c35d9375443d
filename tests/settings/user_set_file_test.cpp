// The user set file reader: a file the writer made reads back the same, and every kind of damage refuses the
// whole file with the line it was found on.
#include <gtest/gtest.h>

#include <string>

#include "user_set_file.h"

namespace {

// A file whose UserSet2 holds a value of its kind for every setting.
UserSetFile sampleFile() {
    // Returned whole rather than assigned from a literal, which GCC 12 at -O3 takes for an overlapping copy.
    const auto valueOf = [](const UserSetField& field) -> std::string {
        switch (field.kind) {
            case UserSetValueKind::Boolean: return "1";
            case UserSetValueKind::Integer: return "42";
            case UserSetValueKind::Float: return "1500.25";
            case UserSetValueKind::Entry: return field.entries.empty() ? "mode2" : field.entries.back();
        }
        return {};
    };
    UserSetValues values;
    for (const UserSetField& field : userSetFields()) values.emplace(field.key, valueOf(field));
    UserSetFile file;
    file.deviceUserId = "Cell 3 = left #1";
    file.defaultSet = "UserSet2";
    file.sets["UserSet2"] = values;
    return file;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(UserSetFile, WhatTheWriterMakesReadsBackTheSame) {
    const UserSetFile file = sampleFile();
    const std::string text = writeUserSetFile(file);
    const UserSetFileReading reading = readUserSetFile(text);
    ASSERT_TRUE(reading.valid) << reading.problem << "\n" << text;
    EXPECT_EQ(reading.file.deviceUserId, file.deviceUserId);
    EXPECT_EQ(reading.file.defaultSet, "UserSet2");
    EXPECT_EQ(reading.file.sets, file.sets);
    // Line ends of a Windows editor, blank lines and comments are taken as well.
    std::string edited;
    for (const char c : replaced(text, "set UserSet2\n", "\n# tuned by hand\nset UserSet2\n"))
        edited += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(readUserSetFile(edited).valid) << readUserSetFile(edited).problem;
    EXPECT_EQ(userSetFloatText(0.2f), "0.2");
}

TEST(UserSetFile, DamagedOrForeignFilesAreRefusedNamingTheLine) {
    const std::string good = writeUserSetFile(sampleFile());
    const struct {
        std::string text;
        std::string problem;
    } cases[] = {
        {"", "the file is empty"},
        {"<?xml version=\"1.0\"?>\n", "line 1: not a user set file"},
        {replaced(good, "user-sets 1", "user-sets 2"), "line 1: a format version"},
        {good.substr(0, good.size() - 4), "the end line is missing"},
        {good.substr(0, good.size() / 2), "the last line has no line end"},
        {good + "TriggerMode=On\n", "text after the end line"},
        {replaced(good, "Cell 3 = left #1", "seventeen letters"), "line 3: DeviceUserID is longer"},
        {replaced(good, "UserSetDefault=UserSet2", "UserSetDefault=UserSet4"), "line 4: no user set is named"},
        {replaced(good, "set UserSet2", "set Default"), "line 5: no user set is named \"Default\""},
        {replaced(good, "TriggerMode=On", "TriggerMode=Maybe"), "TriggerMode = Maybe is out of range"},
        {replaced(good, "TriggerDelay=1500.25", "TriggerDelay=-1"), "TriggerDelay = -1 is out of range"},
        {replaced(good, "TriggerDelay=1500.25", "TriggerDelay=nan"), "TriggerDelay = nan is out of range"},
        {replaced(good, "FilterMode.0=1", "FilterMode.0=2"), "FilterMode.0 = 2 is out of range"},
        {replaced(good, "LightBrightness=42", "LightBrightness=4x"), "LightBrightness = 4x is out of range"},
        {replaced(good, "Gain=1500.25", "Gain=+3"), "Gain = +3 is out of range"},
        {replaced(good, "Gain=1500.25\n", ""), "UserSet2 has no Gain"},
        {replaced(good, "Gain=1500.25\n", "Gain=1500.25\nGain=2\n"), "Gain appears twice in UserSet2"},
        {replaced(good, "Gain=", "Brightness="), "a user set has no setting \"Brightness\""},
        {replaced(good, "Gain=1500.25", "Gain"), "neither a setting nor a set"},
        {replaced(good, "set UserSet2", "PixelFormat=Mono8\nset UserSet2"), "\"PixelFormat\" is unknown here"},
    };
    for (const auto& c : cases) {
        const UserSetFileReading reading = readUserSetFile(c.text);
        EXPECT_FALSE(reading.valid) << c.problem;
        EXPECT_NE(reading.problem.find(c.problem), std::string::npos) << reading.problem;
    }
    // A second copy of a set is refused, as is a file too large to be one of ours.
    const std::string set = good.substr(good.find("set UserSet2"), good.find("end\n") - good.find("set UserSet2"));
    EXPECT_FALSE(readUserSetFile(replaced(good, "end\n", set + "end\n")).valid);
    EXPECT_FALSE(readUserSetFile(std::string(kUserSetFileMaxBytes + 1, '\n')).valid);
}

}  // namespace
