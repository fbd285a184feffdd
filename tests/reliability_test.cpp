// The built program under a real full disk, and a long soak of every kind
// of change checked against a simple model of the register.
#include "support.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class full_disk : public scratch {
protected:
    void TearDown() override
    {
        if (mounted)
            umount2(disk.c_str(), MNT_DETACH);
        scratch::TearDown();
    }
    std::string disk;
    bool mounted = false;
};

TEST_F(full_disk, a_failed_save_keeps_the_register_whole)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root, as CI has";
    disk = dir + "/disk";
    fs::create_directory(disk);
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    mounted = true;
    const std::string old = "1 甲 19 男 2005.01 南京 025-1 a@b.cn\n2 乙 20 女 2004.12 苏州 0512-2 c@d.cn\n";
    write_file(disk + "/student.txt", old);
    std::FILE* fill = std::fopen((disk + "/filler").c_str(), "w");
    ASSERT_NE(fill, nullptr);
    while (std::fputc('x', fill) != EOF && std::fflush(fill) == 0) {
    }
    std::fclose(fill);

    std::string input = "1\n4\n300\n";
    for (int k = 0; k < 300; ++k)
        input += "s" + std::to_string(k) + " 学生 20 女 2004.12 江苏省南京市鼓楼区汉口路22号 " +
                 "13800000000 student" + std::to_string(k) + "@example.edu.cn\n";
    outcome o = run_program(disk, input + "7\n8\n");
    // Nor is there room to keep the work: the session ends in failure.
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "student.txt所在的磁盘空间不足\n有未保存的修改,另存失败\n");
    EXPECT_NE(o.out.find("保存失败,student.txt未改变\n"), std::string::npos);
    EXPECT_EQ(read_file(disk + "/student.txt"), old);
    EXPECT_EQ(names_in(disk), (std::vector<std::string>{"filler", "student.txt"}));
}

// A register on a file system mounted read-only: the refusal names that,
// not the room or the permissions, which would send the operator astray.
class read_only_disk : public full_disk {};

TEST_F(read_only_disk, a_refused_save_says_the_file_system_is_read_only)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a disk needs root, as CI has";
    disk = dir + "/disk";
    fs::create_directory(disk);
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    mounted = true;
    const std::string old = "1 甲 19 男 2005.01 南京 025-1 a@b.cn\n2 乙 20 女 2004.12 苏州 0512-2 c@d.cn\n";
    write_file(disk + "/student.txt", old);
    ASSERT_EQ(mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    outcome o = run_program(disk, "1\n5\n1\n7\n8\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "student.txt所在的文件系统只读\n有未保存的修改,另存失败\n");
    EXPECT_NE(o.out.find("保存失败,student.txt未改变\n"), std::string::npos) << o.out;
    EXPECT_EQ(read_file(disk + "/student.txt"), old);
}

// A workbook is made through temporary files whose failed writes its
// library does not report: as the room for them runs out step by step,
// every export either gives the whole workbook or fails and keeps the old.
TEST_F(full_disk, a_workbook_export_short_of_room_is_whole_or_refused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root, as CI has";
    const char* names[] = {"张伟", "王芳", "李娜", "刘洋", "陈静"};
    std::string reg;
    for (int k = 0; k < 1000; ++k) {
        char line[128];
        std::snprintf(line, sizeof line, "%d %s %d %s 2005.%02d 北京市海淀区 138%08d s%d@x.cn\n", k + 1,
                      names[k % 5], 18 + k % 5, k % 2 ? "男" : "女", k % 12 + 1, k, k);
        reg += line;
    }
    write_file("student.txt", reg);
    ASSERT_EQ(run_program(dir, "", {"--export", "old.xlsx"}).status, 0);
    const std::string old = read_file("old.xlsx");
    disk = dir + "/disk";
    fs::create_directory(disk);
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4m"), 0) << std::strerror(errno);
    mounted = true;
    // Plenty, then less and less, down to where the parts no longer fit but
    // a workbook of what was written of them would.
    std::vector<int> taken = {0, 1024, 2048, 3072, 3584};
    for (int k = 4096 - 64; k < 4096 - 8; ++k)
        taken.push_back(k);
    int whole = 0;
    for (int used : taken) {
        write_file(disk + "/filler", std::string(static_cast<std::size_t>(used) * 1024, 'x'));
        write_file("out.xlsx", "old");
        outcome o = finish_program(start_program(dir, "", {"env", "TMPDIR=" + disk}, {"--export", "out.xlsx"}));
        if (o.status == 0) {
            ++whole;
            EXPECT_GT(read_file("out.xlsx").size(), old.size() - 64) << "cut short, " << used << " KiB taken";
        } else {
            EXPECT_EQ(o.status, 1);
            // Refused before the library could cut a part short, and told why.
            EXPECT_EQ(o.err, "临时文件夹空间不足\n导出失败,out.xlsx未改变\n") << used;
            EXPECT_EQ(read_file("out.xlsx"), "old") << used;
        }
        EXPECT_EQ(names_in(disk), std::vector<std::string>{"filler"}) << used;
    }
    EXPECT_GT(whole, 0);
    EXPECT_LT(whole, static_cast<int>(taken.size()));
}

// The register as the program should hold it, in plain strings.
using record = std::array<std::string, 8>;

std::string line_of(const record& r)
{
    std::string s;
    for (const std::string& f : r)
        s += (s.empty() ? "" : " ") + f;
    return s + "\n";
}

struct model {
    std::vector<record> rs;

    std::string file() const
    {
        std::string s;
        for (const record& r : rs)
            s += line_of(r);
        return s;
    }
    void modify(const std::string& id, int field, const std::string& value)
    {
        auto it = std::find_if(rs.rbegin(), rs.rend(), [&](const record& r) { return r[0] == id; });
        (*it)[static_cast<std::size_t>(field)] = value; // field 1..7 is record[1..7]
    }
    void dele(const std::string& id)
    {
        rs.erase(std::find_if(rs.begin(), rs.end(), [&](const record& r) { return r[0] == id; }));
    }
    void add(const record& r)
    {
        rs.push_back(r);
        std::stable_sort(rs.begin(), rs.end(),
                         [](const record& a, const record& b) { return a[0] < b[0]; });
    }
};

// Field capacities in record order; the age (index 2) is a number.
const std::size_t caps[8] = {20, 22, 0, 2, 20, 29, 20, 32};

std::string value(std::mt19937& rng, std::size_t cap)
{
    static const std::string pieces[] = {"a", "Z", "9", ".", "@", "-", "张", "伟", "路", "号"};
    std::string v;
    std::size_t want = 1 + rng() % cap;
    while (v.size() < want) {
        const std::string& p = pieces[rng() % std::size(pieces)];
        if (v.size() + p.size() > cap)
            break;
        v += p;
    }
    return v.empty() ? "x" : v;
}

record random_record(std::mt19937& rng, const std::string& id)
{
    record r;
    r[0] = id;
    for (std::size_t k = 1; k < 8; ++k)
        r[k] = k == 2 ? std::to_string(static_cast<int>(rng() % 200) - 50) : value(rng, caps[k]);
    return r;
}

class soak : public scratch {};

TEST_F(soak, two_hundred_cycles_of_every_change_match_the_model)
{
    std::mt19937 rng(20261208);
    model m;
    for (int k = 0; k < STUDENT_CAPACITY; ++k)
        m.rs.push_back(random_record(rng, "s" + std::to_string(k)));
    write_file(dir + "/student.txt", m.file());

    int next_id = 0;
    for (int run = 0; run < 10; ++run) {
        std::string input;
        for (int cycle = 0; cycle < 20; ++cycle) {
            const record& target = m.rs[rng() % m.rs.size()];
            int field = 1 + static_cast<int>(rng() % 7);
            std::string v = field == 2 ? std::to_string(static_cast<int>(rng() % 100))
                                       : value(rng, caps[field]);
            // A refused answer first, now and then: it must change nothing.
            std::string refused = rng() % 3 == 0 ? (field == 2 ? "abc\n" : std::string(40, 'L') + "\n") : "";
            input += "1\n3\n" + target[0] + "\n" + std::to_string(field) + "\n" + refused + v + "\n";
            m.modify(target[0], field, v);

            std::string gone = m.rs[rng() % m.rs.size()][0];
            input += "5\n" + gone + "\n";
            m.dele(gone);

            record fresh = random_record(rng, "n" + std::to_string(next_id++));
            input += "4\n1\n" + line_of(fresh);
            m.add(fresh);
            input += "7\n";
        }
        outcome o = run_program(dir, input + "8\n");
        ASSERT_EQ(o.status, 0);
        ASSERT_EQ(o.out.find("未刷新"), std::string::npos) << "run " << run;
        ASSERT_EQ(o.out.find("保存失败"), std::string::npos) << "run " << run;
        ASSERT_EQ(read_file(dir + "/student.txt"), saved(m.file())) << "run " << run;
    }
}

} // namespace
