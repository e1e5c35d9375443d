// Control channel privilege and heartbeat with an injected clock.
#include <gtest/gtest.h>

#include "gvcp/control_privilege.h"

using namespace gvcp;

namespace {
const Peer kOwner{0x7F000001, 50000};
const Peer kOther{0x7F000001, 50001};  // same host, another connection
}  // namespace

TEST(ControlPrivilege, OneControllerOthersReadButCannotWrite) {
    ControlPrivilege privilege;
    ControlPrivilege::Change change;
    EXPECT_TRUE(privilege.mayWrite(kOther));  // nobody controls yet
    ASSERT_EQ(privilege.write(kOwner, PrivilegeControl, 0, 0, change), Status::Success);
    EXPECT_EQ(change, ControlPrivilege::Change::Gained);
    EXPECT_EQ(privilege.value(), PrivilegeControl);
    EXPECT_TRUE(privilege.mayRead(kOther));
    EXPECT_FALSE(privilege.mayWrite(kOther));
    EXPECT_EQ(privilege.write(kOther, PrivilegeControl, 0, 0, change), Status::AccessDenied);
    EXPECT_EQ(privilege.write(kOther, 0, 0, 0, change), Status::AccessDenied);

    // Renewing the privilege is no new connection; exclusive access also denies reads to others.
    ASSERT_EQ(privilege.write(kOwner, PrivilegeExclusive, 0, 10, change), Status::Success);
    EXPECT_EQ(change, ControlPrivilege::Change::None);
    EXPECT_FALSE(privilege.mayRead(kOther));
    EXPECT_TRUE(privilege.mayRead(kOwner));

    ASSERT_EQ(privilege.write(kOwner, 0, 0, 20, change), Status::Success);
    EXPECT_EQ(change, ControlPrivilege::Change::Lost);
    EXPECT_EQ(privilege.value(), 0U);
    EXPECT_TRUE(privilege.mayWrite(kOther));
}

TEST(ControlPrivilege, HeartbeatEndsControlOnTimeAndActivityPostponesIt) {
    ControlPrivilege privilege;
    privilege.configure(true, 0);
    EXPECT_EQ(privilege.heartbeatTimeout(), 3000U);
    ControlPrivilege::Change change;
    privilege.write(kOwner, PrivilegeControl, 0, 1000, change);
    EXPECT_EQ(privilege.msUntilExpiry(1000), 3000U);
    EXPECT_EQ(privilege.expire(3999), ControlPrivilege::Change::None);
    privilege.activity(kOther, 3500);  // another client's traffic keeps nobody alive
    privilege.activity(kOwner, 3900);
    EXPECT_EQ(privilege.expire(6899), ControlPrivilege::Change::None);
    EXPECT_EQ(privilege.expire(6900), ControlPrivilege::Change::Lost);
    EXPECT_EQ(privilege.expire(9000), ControlPrivilege::Change::None);  // reported once
    EXPECT_FALSE(privilege.controlled());
}

TEST(ControlPrivilege, HeartbeatSettings) {
    ControlPrivilege privilege;
    privilege.setHeartbeatTimeout(100);
    EXPECT_EQ(privilege.heartbeatTimeout(), 500U);  // below the minimum: stored as the minimum
    ControlPrivilege::Change change;
    privilege.write(kOwner, PrivilegeControl, 0, 0, change);
    privilege.setHeartbeatDisabled(true);
    EXPECT_EQ(privilege.msUntilExpiry(0), ControlPrivilege::kNever);
    EXPECT_EQ(privilege.expire(100000), ControlPrivilege::Change::None);
    privilege.setHeartbeatDisabled(false);
    EXPECT_EQ(privilege.expire(100000), ControlPrivilege::Change::Lost);

    ControlPrivilege lenient;
    lenient.configure(false, 1000);
    lenient.write(kOwner, PrivilegeControl, 0, 0, change);
    EXPECT_EQ(lenient.expire(1000000), ControlPrivilege::Change::None);
}

TEST(ControlPrivilege, SwitchoverNeedsTheKey) {
    ControlPrivilege privilege;
    ControlPrivilege::Change change;
    privilege.write(kOwner, PrivilegeControl | PrivilegeSwitchoverEnable, 0, 0, change);
    EXPECT_EQ(privilege.write(kOther, (0x1234U << 16) | PrivilegeControl, 0x4321, 0, change), Status::AccessDenied);
    EXPECT_EQ(privilege.write(kOther, (0x1234U << 16) | PrivilegeControl, 0x1234, 0, change), Status::Success);
    EXPECT_TRUE(privilege.controller() == kOther);
}
