// SPDX-License-Identifier: MIT
#include "analyser/recording.h"

#include <gtest/gtest.h>

#include <map>

#include "analyser/automation.h"

namespace vantel {
namespace {

// A two-level object: the application with one sub-object holding plain members.
class Leaf final : public AutomationObject {
public:
    Value get(std::string_view member) override {
        auto it = values.find(std::string(member));
        if (it == values.end())
            throw AutomationError(std::string(member), "no such member");
        return it->second;
    }
    void set(std::string_view member, const Value& value) override {
        if (member == "ReadOnly")
            throw AutomationError(std::string(member), "read-only");
        values[std::string(member)] = value;
    }
    std::map<std::string, Value> values{{"Level", Value(1.5)}, {"ReadOnly", Value(1)}};
};

class Root final : public AutomationObject {
public:
    Value get(std::string_view member) override {
        if (member == "Sub")
            return Value(ObjectRef(leaf));
        throw AutomationError(std::string(member), "no such member");
    }
    void set(std::string_view member, const Value&) override {
        throw AutomationError(std::string(member), "read-only");
    }
    std::shared_ptr<Leaf> leaf = std::make_shared<Leaf>();
};

TEST(Recording, LogsEveryAccessInOrderWithSubObjectPaths) {
    auto root = std::make_shared<Root>();
    auto log = std::make_shared<AccessLog>();
    RecordingObject app(root, log);

    EXPECT_EQ(get_member(app, "Sub", "Level"), Value(1.5));
    set_member(app, "Sub", "Level", Value(2));
    EXPECT_THROW(set_member(app, "Sub", "ReadOnly", Value(3)), AutomationError);
    EXPECT_THROW(app.get("Missing"), AutomationError);

    EXPECT_EQ(*log,
              (AccessLog{"get Sub", "get Sub.Level", "get Sub", "set Sub.Level = 2", "get Sub",
                         "set Sub.ReadOnly = 3 -> failed", "get Missing -> failed"}));
    EXPECT_EQ(root->leaf->values["Level"], Value(2));
}

TEST(Recording, FailureKeepsTheFullMemberPath) {
    auto log = std::make_shared<AccessLog>();
    RecordingObject app(std::make_shared<Root>(), log);
    try {
        get_member(app, "Sub", "Missing");
        FAIL() << "a missing member was read";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "Sub.Missing");
    }
}

}  // namespace
}  // namespace vantel
