#include "serial/SerialDevices.h"

std::string DescribeUsbIdentity(const SUsbIdentity& identity)
{
    if (!identity.found)
        return {};
    std::string text = identity.maker;
    if (!identity.product.empty())
        text += (text.empty() ? "" : " ") + identity.product;
    if (text.empty())
        text = "USB device " + identity.vendorId + ":" + identity.productId;
    if (!identity.serial.empty())
        text += " (" + identity.serial + ")";
    return text;
}
