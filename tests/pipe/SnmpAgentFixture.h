// SnmpAgent: a test fixture for the SNMP agent the ctest fixture starts
// (scripts/snmp_agent.sh). MORVANE_SNMP_DIR names its folder, which holds
// the port it answers on and the state file it answers from; SetState
// rewrites that file in one step, and TearDown leaves it "idle".
#pragma once

#include "PipeTestSupport.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

class SnmpAgent : public testing::Test {
protected:
    void SetUp() override {
        const char* pszDir = getenv("MORVANE_SNMP_DIR");
        ASSERT_TRUE(pszDir) << "run through ctest: the fixture starts the agent";
        // A Linux path reaches the same file through drive Z:.
        std::string dir = std::string("Z:") + pszDir;
        for (char& c : dir)
            if (c == '/')
                c = '\\';
        m_statePath = dir + "\\printer_state";
        // The agent may have moved to a later port when its own was taken.
        m_nPort = atoi(ReadFileBytes(dir + "\\port").c_str());
        ASSERT_GT(m_nPort, 0) << "no agent port in " << dir;
    }
    void TearDown() override {
        if (!m_statePath.empty())
            SetState("idle");
    }

    // Rewrites the state file whole, in one step.
    void SetState(const std::string& words) {
        const std::string temp = m_statePath + ".new";
        HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD cb = 0;
        WriteFile(h, words.data(), static_cast<DWORD>(words.size()), &cb, nullptr);
        CloseHandle(h);
        ASSERT_TRUE(MoveFileExA(temp.c_str(), m_statePath.c_str(), MOVEFILE_REPLACE_EXISTING));
    }

    std::string m_statePath;
    int m_nPort = 0;
};
