// Folder mode: the walk mirrors the tree, skips other files, and sets up each file only after the
// previous one has reported the stopped state and been torn down.
#include "capture/encode_options.h"
#include "capture/run_test_fixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace capture {
namespace {

namespace fs = std::filesystem;

class FolderTest : public RunTest {
protected:
    std::string in;
    std::string out;

    void SetUp() override {
        RunTest::SetUp();
        const fs::path root = toPath(testFolder());
        in = pathText(root / "in");
        out = pathText(root / "out");
        fs::create_directories(root / "in" / "sub");
    }
    // A file in the input tree; media files are ones the fake encoder opens.
    std::string file(const std::string& relative, bool media = true) {
        const fs::path path = (toPath(in) / toPath(relative)).make_preferred();
        std::ofstream(path) << "x";
        if (media)
            world.files[pathText(path)] = {};
        return pathText(path);
    }
    std::string at(const std::string& folder, const std::string& name) {
        return pathText(toPath(folder) / name);
    }
    size_t countCalls(std::string_view prefix) const {
        return static_cast<size_t>(
            std::count_if(world.calls.begin(), world.calls.end(),
                          [&](const std::string& c) { return c.starts_with(prefix); }));
    }
};

TEST_F(FolderTest, EncodesOneFileAtATimeAndMirrorsTheTree) {
    file("a.avi");
    file("avi", false); // a name that is only an extension
    file("b.c.AVI");
    file("notes.txt", false);
    file("sub/d.wav");
    go("-input " + in + " -output " + out + " -outputstring _lo");

    // The first file runs; nothing else happens until it has stopped.
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(lines().at(0), "============== Encoding Files in Folder ============== " + in);
    EXPECT_EQ(lines().at(1), "============== Input " + at(in, "a.avi") + " " + at(out, "a_lo"));
    EXPECT_FALSE(hasLine("Skipping: avi"));
    events();
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(countCalls("Encoder.PrepareToEncode(false)"), 0u);
    EXPECT_TRUE(main->busy());

    stopsByItself();
    EXPECT_EQ(run.starts, 2);
    EXPECT_EQ(countCalls("Encoder.PrepareToEncode(false)"), 1u);
    EXPECT_EQ(countCalls("SourceGroupCollection.Remove(\"SG_1\")"), 1u);
    stopsByItself();
    EXPECT_EQ(run.starts, 3);
    stopsByItself();
    EXPECT_FALSE(main->busy());
    EXPECT_EQ(main->completedRuns(), 3);

    std::vector<std::string> walk;
    for (const std::string& line : lines()) {
        if (line.starts_with("=============="))
            walk.push_back(line);
        else if (line.starts_with("Skipping: "))
            walk.push_back(line);
    }
    EXPECT_EQ(walk,
              (std::vector<std::string>{
                  "============== Encoding Files in Folder ============== " + in,
                  "============== Input " + at(in, "a.avi") + " " + at(out, "a_lo"),
                  "Skipping: avi",
                  "============== Input " + at(in, "b.c.AVI") + " " + at(out, "b.c_lo"),
                  "Skipping: notes.txt",
                  "============== Encoding Files in Folder ============== " + at(in, "sub"),
                  "============== Input " + at(at(in, "sub"), "d.wav") + " " + at(at(out, "sub"), "d_lo"),
              }));
    // The set-up adds the extension after the final point, also after a dotted base name.
    EXPECT_EQ(countCalls("File.LocalFileName(\"" + at(out, "b.c_lo.wmv") + "\")"), 1u);
    EXPECT_EQ(countCalls("File.LocalFileName(\"" + at(at(out, "sub"), "d_lo.wmv") + "\")"), 1u);
    // After the walk the record holds the last file.
    EXPECT_EQ(g_options.inputPath, at(at(in, "sub"), "d.wav"));
}

TEST_F(FolderTest, AFileWhoseSetUpFailsIsSkippedAndTheWalkGoesOn) {
    file("a.avi", false); // the encoder cannot open it
    file("b.avi");
    go("-input " + in + " -output " + out);
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(countCalls("Encoder.PrepareToEncode(false)"), 1u);
    EXPECT_TRUE(hasLine("============== Input " + at(in, "b.avi") + " " + at(out, "b")));
    stopsByItself();
    EXPECT_FALSE(main->busy());
}

TEST_F(FolderTest, StopEndsTheWalkAfterTheFileInHand) {
    file("a.avi");
    file("b.avi");
    go("-input " + in + " -output " + out);
    events();
    main->cmdStop_Click();
    events();
    EXPECT_EQ(run.starts, 1);
    EXPECT_TRUE(hasLine("======== Encoding Completed ========"));
    EXPECT_FALSE(main->busy());
    EXPECT_EQ(countCalls("SourceGroupCollection.Remove(\"SG_1\")"), 1u);
}

TEST_F(FolderTest, WithoutAnOutputFolderNothingIsEncoded) {
    file("a.avi");
    go("-input " + in + " -title x");
    EXPECT_EQ(lines(), (std::vector<std::string>{"Error: No output directory specified"}));
    EXPECT_EQ(run.starts, 0);
    EXPECT_FALSE(main->busy());
}

} // namespace
} // namespace capture
