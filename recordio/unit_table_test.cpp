#include "recordio/unit_table.hpp"
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "process/io_state.hpp"

namespace {

// A fresh directory, removed with its content at the end of the test.
class Directory {
public:
    Directory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ephem-units-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~Directory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Opens unit with an error branch, so that a failure comes back as its number.
int open_unit(int unit, const std::string& name, const char* stat) {
    const olist a{1, unit, name.c_str(), static_cast<int32_t>(name.size()), stat, nullptr, nullptr, 0, nullptr};
    return f_open(&a);
}

int close_unit(int unit, const char* stat = nullptr) {
    const cllist a{1, unit, stat};
    return f_clos(&a);
}

// Writes text on a connected unit as a row write does: switch to writing, gather, flush.
void write_text(int unit, const std::string& text) {
    Unit& u = f__units[unit];
    ASSERT_EQ(f__nowwriting(&u), 0);
    ASSERT_TRUE(u.stream.put(text.data(), text.size()));
    ASSERT_TRUE(u.stream.flush());
}

// Runs body with dir as the working directory, for names that are relative.
template <typename Body>
auto inside(const Directory& dir, Body body) {
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    auto result = body();
    std::filesystem::current_path(saved);
    return result;
}

constexpr int kUnit = 12;

// The unit table is process-wide: each test gives it back with none of the units it used connected or
// named, nothing under way, and no file remembered as an input (a later test's file could take the same
// inode and be refused as that input).
class UnitTableTest : public testing::Test {
protected:
    void TearDown() override {
        f__init = f__init & ~kUnderWay;
        for (Unit& unit : f__units) {
            if (unit.named) {
                const cllist close{1, unit_number(unit), nullptr};
                f_clos(&close);
            }
            unit.input_file = {};
        }
    }
};
class UnitOpen : public UnitTableTest {};
class UnitClose : public UnitTableTest {};
class UnitTable : public UnitTableTest {};
class PresetUnits : public UnitTableTest {};
class UnitSwitch : public UnitTableTest {};
class UnitOpenDeathTest : public UnitTableTest {};
class UnitExitDeathTest : public UnitTableTest {};

TEST_F(UnitOpen, NameLosesItsTrailingBlanksOnlyAndDefaultsToFortAndTheNumber) {
    const struct {
        const char* protects;
        int unit;
        const char* given;
        const char* name;
    } cases[] = {
        {"trailing blanks are not part of the name", kUnit, "OUT.DAT   ", "OUT.DAT"},
        {"leading blanks stay in the name", kUnit, " lead ", " lead"},
        {"without a name the file is fort. and the unit number", 37, nullptr, "fort.37"},
    };
    for (const auto& c : cases) {
        Directory dir;
        const std::string name = inside(dir, [&c] {
            const int32_t length = c.given == nullptr ? 0 : static_cast<int32_t>(std::strlen(c.given));
            const olist a{1, c.unit, c.given, length, "UNKNOWN", nullptr, nullptr, 0, nullptr};
            EXPECT_EQ(f_open(&a), 0) << c.protects;
            std::string opened = f__units[c.unit].name;
            close_unit(c.unit);
            return opened;
        });
        EXPECT_EQ(name, c.name) << c.protects;
        EXPECT_TRUE(dir.exists(c.name)) << c.protects;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.protects;
    }
}

TEST_F(UnitOpen, RefusedNamesAndNumbers) {
    Directory dir;
    dir.write(std::string(255, 'a'), "the file a shortened name would reach");
    const int too_long = inside(dir, [] { return open_unit(kUnit, std::string(255, 'a') + "b", "OLD"); });
    EXPECT_EQ(too_long, ENAMETOOLONG);
    EXPECT_FALSE(f__units[kUnit].stream.attached());

    EXPECT_EQ(open_unit(kUnit, dir.file("no/such/ZEPO.DAT"), "UNKNOWN"), ENOENT);  // the host's code
    EXPECT_FALSE(f__units[kUnit].stream.attached());
    EXPECT_EQ(open_unit(kUnit, "", "UNKNOWN"), 107);
    EXPECT_EQ(open_unit(kUnit, "    ", "UNKNOWN"), 107);
    EXPECT_EQ(open_unit(-1, dir.file("X"), "UNKNOWN"), 101);
    EXPECT_EQ(open_unit(kUnitCount, dir.file("X"), "UNKNOWN"), 101);
    EXPECT_FALSE(dir.exists("X"));
}

TEST_F(UnitOpen, OldFileMissingLeavesTheUnitUnconnectedButNamed) {
    Directory dir;
    EXPECT_EQ(open_unit(kUnit, dir.file("DATOS.DAT"), "OLD"), ENOENT);
    const Unit& unit = f__units[kUnit];
    EXPECT_FALSE(unit.stream.attached());
    EXPECT_TRUE(unit.named);
    EXPECT_EQ(unit.name, dir.file("DATOS.DAT"));
    EXPECT_EQ(f__curunit, &unit);
    EXPECT_FALSE(dir.exists("DATOS.DAT"));
    EXPECT_EQ(close_unit(kUnit), 0);
    EXPECT_FALSE(unit.named);
}

TEST_F(UnitOpen, StatusDecidesWhatHappensToTheFile) {
    Directory dir;
    dir.write("existing", "old content\n");
    EXPECT_EQ(open_unit(kUnit, dir.file("existing"), "new"), 128);
    EXPECT_EQ(dir.read("existing"), "old content\n");

    ASSERT_EQ(open_unit(kUnit, dir.file("fresh"), "NEW"), 0);
    EXPECT_TRUE(dir.exists("fresh"));
    close_unit(kUnit);

    ASSERT_EQ(open_unit(kUnit, dir.file("existing"), "Replace"), 0);
    EXPECT_EQ(dir.read("existing"), "");
    close_unit(kUnit);

    dir.write("existing", "old content\n");
    ASSERT_EQ(open_unit(kUnit, dir.file("existing"), "OLD"), 0);
    EXPECT_EQ(dir.read("existing"), "old content\n");
    close_unit(kUnit);
}

TEST_F(UnitOpen, ExistingFileOpensForReadingAndWritingAtItsStart) {
    Directory dir;
    dir.write("ZEPO.DAT", "old rows\n");
    ASSERT_EQ(open_unit(kUnit, dir.file("ZEPO.DAT"), "UNKNOWN"), 0);
    const Unit& unit = f__units[kUnit];
    EXPECT_EQ(unit.rights, kMayRead | kMayWrite);
    EXPECT_EQ(unit.last_op.load(), 0);
    EXPECT_TRUE(unit.formatted);
    EXPECT_TRUE(unit.can_seek);
    EXPECT_EQ(unit.stream.tell(), 0);
    EXPECT_EQ(close_unit(kUnit), 0);
    EXPECT_EQ(dir.read("ZEPO.DAT"), "old rows\n");  // nothing written, nothing cut
}

TEST_F(UnitOpen, MissingFileIsCreatedForWriting) {
    Directory dir;
    ASSERT_EQ(open_unit(kUnit, dir.file("ZEPO.DAT"), nullptr), 0);
    const Unit& unit = f__units[kUnit];
    EXPECT_EQ(unit.rights, kMayWrite);
    EXPECT_EQ(unit.last_op.load(), 1);
    EXPECT_EQ(close_unit(kUnit), 0);
    EXPECT_TRUE(dir.exists("ZEPO.DAT"));
    EXPECT_EQ(dir.read("ZEPO.DAT"), "");
}

TEST_F(UnitOpen, ReopeningTheSameNameKeepsTheConnection) {
    Directory dir;
    dir.write("A", "abc");
    ASSERT_EQ(open_unit(kUnit, dir.file("A"), "OLD"), 0);
    Unit& unit = f__units[kUnit];
    EXPECT_EQ(unit.stream.get(), 'a');
    const int fd = unit.stream.fd();
    const std::string name = dir.file("A");
    const olist same{1, kUnit, name.c_str(), static_cast<int32_t>(name.size()), "OLD", nullptr, nullptr, 0, "ZERO"};
    ASSERT_EQ(f_open(&same), 0);
    EXPECT_EQ(unit.stream.fd(), fd);
    EXPECT_EQ(unit.stream.tell(), 1);
    EXPECT_TRUE(unit.blank_zero);
    close_unit(kUnit);
}

TEST_F(UnitOpen, OpeningAnotherNameClosesTheFirstAndCutsIt) {
    Directory dir;
    dir.write("first", "a longer old content\n");
    ASSERT_EQ(open_unit(kUnit, dir.file("first"), "UNKNOWN"), 0);
    write_text(kUnit, "row\n");
    ASSERT_EQ(open_unit(kUnit, dir.file("second"), "UNKNOWN"), 0);
    EXPECT_EQ(f__units[kUnit].name, dir.file("second"));
    EXPECT_EQ(dir.read("first"), "row\n");
    close_unit(kUnit);
}

TEST_F(UnitClose, UnconnectedAndOutOfRangeUnitsCloseWithoutEffect) {
    EXPECT_EQ(close_unit(kUnit), 0);
    EXPECT_EQ(close_unit(-1), 0);
    EXPECT_EQ(close_unit(kUnitCount), 0);
    EXPECT_EQ(close_unit(1000000), 0);
    EXPECT_FALSE(f__units[kUnit].stream.attached());
}

TEST_F(UnitClose, WrittenFileIsCutAfterTheLastByteWritten) {
    Directory dir;
    dir.write("ZEPO.DAT", std::string(1000, 'o'));
    ASSERT_EQ(open_unit(kUnit, dir.file("ZEPO.DAT"), "UNKNOWN"), 0);
    write_text(kUnit, "row 1\n");
    write_text(kUnit, "row 2\n");
    ASSERT_EQ(close_unit(kUnit), 0);
    EXPECT_EQ(dir.read("ZEPO.DAT"), "row 1\nrow 2\n");
    const Unit& unit = f__units[kUnit];
    EXPECT_FALSE(unit.stream.attached());
    EXPECT_FALSE(unit.named);
    EXPECT_EQ(unit.last_op.load(), 0);
}

TEST_F(UnitClose, DeleteRemovesTheFileAndKeepDoesNot) {
    Directory dir;
    dir.write("gone", "x");
    ASSERT_EQ(open_unit(kUnit, dir.file("gone"), "OLD"), 0);
    EXPECT_EQ(close_unit(kUnit, "delete"), 0);
    EXPECT_FALSE(dir.exists("gone"));

    dir.write("kept", "x");
    ASSERT_EQ(open_unit(kUnit, dir.file("kept"), "OLD"), 0);
    EXPECT_EQ(close_unit(kUnit, "KEEP"), 0);
    EXPECT_EQ(dir.read("kept"), "x");
}

TEST_F(UnitClose, ScratchFileDisappearsAtClose) {
    ASSERT_EQ(open_unit(kUnit, "ignored", "SCRATCH"), 0);
    const std::string name = f__units[kUnit].name;
    EXPECT_TRUE(f__units[kUnit].scratch);
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(close_unit(kUnit), 0);
    EXPECT_FALSE(std::filesystem::exists(name));
}

// An open or close while a read or write is under way would pull the unit from under the transfer.
TEST_F(UnitTable, OpenAndCloseDuringATransferAreRefused) {
    Directory dir;
    f_init();
    f__init = f__init | kUnderWay;
    const int opened = open_unit(kUnit, dir.file("X"), "UNKNOWN");
    f__init = f__init | kUnderWay;  // a refusal through the error branch ends the transfer
    const int closed = close_unit(kUnit);
    f__init = f__init & ~kUnderWay;
    EXPECT_EQ(opened, 131);
    EXPECT_FALSE(dir.exists("X"));
    EXPECT_FALSE(f__units[kUnit].stream.attached());
    EXPECT_EQ(closed, 131);
}

TEST_F(PresetUnits, StandardStreamsAreConnectedWithoutNamesAndSurviveAClose) {
    f_init();
    EXPECT_EQ(f__units[0].stream.fd(), STDERR_FILENO);
    EXPECT_EQ(f__units[5].stream.fd(), STDIN_FILENO);
    EXPECT_EQ(f__units[6].stream.fd(), STDOUT_FILENO);
    EXPECT_EQ(f__units[0].last_op.load(), 1);
    EXPECT_EQ(f__units[5].last_op.load(), 0);
    EXPECT_EQ(f__units[6].last_op.load(), 1);
    for (int number : {0, 5, 6}) {
        EXPECT_FALSE(f__units[number].named) << number;
        EXPECT_TRUE(f__units[number].formatted) << number;
    }
    EXPECT_EQ(close_unit(6), 0);
    EXPECT_FALSE(f__units[6].stream.attached());
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
    f_init();
}

TEST_F(UnitSwitch, WriteOnlyUnitTurnsToReadingAtTheSamePosition) {
    Directory dir;
    ASSERT_EQ(open_unit(kUnit, dir.file("W"), "UNKNOWN"), 0);
    Unit& unit = f__units[kUnit];
    ASSERT_EQ(unit.rights, kMayWrite);
    ASSERT_TRUE(unit.stream.put("abc", 3));
    ASSERT_EQ(f__nowreading(&unit), 0);
    EXPECT_EQ(unit.rights, kMayRead | kMayWrite);
    EXPECT_EQ(unit.last_op.load(), 0);
    EXPECT_EQ(unit.stream.tell(), 3);
    EXPECT_EQ(dir.read("W"), "abc");
    close_unit(kUnit);
}

// A connection without the right to write is reopened for it; where that cannot be done the switch fails
// and errno keeps the host's reason, never a number of the run-time's own table.
TEST_F(UnitSwitch, ReadOnlyConnectionThatCannotBeReopenedForWritingFails) {
    Directory dir;
    ASSERT_EQ(mkdir(dir.file("D").c_str(), 0755), 0);
    ASSERT_EQ(open_unit(kUnit, dir.file("D"), "UNKNOWN"), 0);  // a directory opens for reading only
    ASSERT_EQ(f__units[kUnit].rights, kMayRead);
    errno = 0;
    EXPECT_EQ(f__nowwriting(&f__units[kUnit]), 1);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_NE(f__units[kUnit].last_op.load(), 1);

    f_init();
    EXPECT_EQ(f__nowwriting(&f__units[5]), 1);  // standard input has no name to reopen under
    EXPECT_TRUE(f__units[5].stream.attached());
    EXPECT_EQ(f__units[5].last_op.load(), 0);
}

// Only a failed existence test records the name; the report of any other refused open has none.
TEST_F(UnitOpenDeathTest, FailureWithoutAnErrorBranchIsReported) {
    Directory dir;
    dir.write("existing", "x");
    const std::string name = dir.file("existing");
    const auto open_new = [&name] {
        f__fmtbuf = nullptr;  // as before any transfer of the run, whatever earlier tests read or wrote
        const olist a{0, 14, name.c_str(), static_cast<int32_t>(name.size()), "NEW", nullptr, nullptr, 0, nullptr};
        f_open(&a);
    };
    EXPECT_EXIT(open_new(), testing::KilledBySignal(SIGABRT),
                "^open: 'new' file exists\napparent state: unit 14 \\(unnamed\\)\nlately [a-z ]* IO\n$");
}

// The close of all units holds SIGINT and SIGTERM, so that a signal arriving while it runs cannot end the
// process with files left uncut; and it cuts a written file after its last completed flush.
TEST_F(UnitExitDeathTest, CloseOfAllUnitsCutsAndCannotBeInterrupted) {
    Directory dir;
    dir.write("ZEPO.DAT", std::string(1000, 'o'));
    const std::string name = dir.file("ZEPO.DAT");
    const auto write_then_exit = [&name] {
        f_init();
        std::signal(SIGTERM, [](int) { _exit(3); });
        open_unit(kUnit, name, "UNKNOWN");
        write_text(kUnit, "row\n");
        f__units[kUnit].stream.put("unfinished", 10);
        f_exit();
        raise(SIGTERM);
        _exit(f__units[kUnit].stream.attached() ? 4 : 0);
    };
    EXPECT_EXIT(write_then_exit(), testing::ExitedWithCode(0), "");
    EXPECT_EQ(dir.read("ZEPO.DAT"), "row\n");
}

}  // namespace
