#include "app/frm_main.h"

#include "pad/pad_driver_factory.h"
#include "pad/virtual_pad_driver.h"
#include "pad/virtual_pad_window.h"

void frmMain::createPadDevice()
{
    if (!m_padDevice)
        m_padDevice = createPadDriver(iniFile);
    // With the built-in pad a person at this machine plays the customer in its window.
    auto *virtualPad = dynamic_cast<VirtualPadDriver *>(m_padDevice.get());
    if (virtualPad && !m_virtualPadWindow) {
        m_virtualPadWindow = new VirtualPadWindow(virtualPad->model(), this);
        m_virtualPadWindow->show();
    }
}
