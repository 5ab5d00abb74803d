#pragma once
#include <gtest/gtest.h>

#include "link/protocol.h"
#include "panel/form1.h"
#include "support/fakes.h"

namespace qelo::test {

// A panel on the fake platform, loaded as at start-up, with the start-up's
// own port operations forgotten.
class FormTest : public ::testing::Test, protected fakes::FakePanel {
protected:
    void SetUp() override {
        form.Form_Load();
        port.log.clear();
    }
    std::string txd() const { return window.caption("Label11"); }
    std::string rxd() const { return window.caption("Label12"); }
    std::string status() const { return window.caption("Label25"); }
    void click(const std::string& name) { window.b(name).click(); }
    std::vector<long> writeTimes() const {
        std::vector<long> t;
        for (const auto& w : port.writes) t.push_back(w.time);
        return t;
    }
};

}  // namespace qelo::test
