#pragma once
#include "Platform.h"

#include <gtest/gtest.h>

#include <string>

// A scratch folder for one test, removed afterwards; files are written through the platform layer so that
// the same tests run on Linux and under Wine.
class TestTree {
public:
    TestTree()
    {
        static int counter = 0;
        std::string error;
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        m_root = publish::TempRoot() + "/publish-test-" + info->name() + "-" + std::to_string(++counter) + "-"
            + std::to_string(std::time(nullptr));
        publish::RemoveTree(m_root);
        EXPECT_TRUE(publish::MakeFolder(m_root, error)) << error;
    }
    ~TestTree() { publish::RemoveTree(m_root); }
    TestTree(const TestTree&) = delete;
    TestTree& operator=(const TestTree&) = delete;

    const std::string& Root() const { return m_root; }
    std::string Path(const std::string& relative) const { return m_root + "/" + relative; }

    // Creates the file and any folders above it.
    void Write(const std::string& relative, const std::string& data) const
    {
        std::string error;
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
            ASSERT_TRUE(publish::MakeFolder(Path(relative.substr(0, slash)), error)) << error;
        ASSERT_TRUE(publish::WriteWholeFile(Path(relative), data, error)) << error;
    }

    std::string Read(const std::string& relative) const
    {
        std::string data, error;
        EXPECT_TRUE(publish::ReadWholeFile(Path(relative), data, error)) << error;
        return data;
    }

private:
    std::string m_root;
};
