// One joystick device object as AddDevice leaves it, built the one way every
// joystick test builds it (stack_fixture.h), for tests of the record itself.
#pragma once

#include "stack_fixture.h"

namespace zeltest {

class DeviceFixture : public StackFixture {
  protected:
    PDEVICE_OBJECT device = nullptr;
    GameDeviceExtension* ext = nullptr;

    void SetUp() override {
        StackFixture::SetUp();
        Joystick& j = AddJoystick(NewPort(), 2, 0);
        device = j.fdo;
        ext = j.ext;
        ASSERT_NE(ext, nullptr);
    }
};

} // namespace zeltest
