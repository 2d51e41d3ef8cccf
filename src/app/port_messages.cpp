#include "app/port_messages.h"

namespace kvr {

std::string OpenFailureLine(const OpenFailure& failure, bool english) {
  const std::string& device = failure.device;
  switch (failure.cause) {
    case OpenFailure::Cause::Missing:
      return english ? "There is no port " + device + ": is the adapter plugged in?"
                     : device + " 不存在: 请插好串口适配器。";
    case OpenFailure::Cause::InUse:
      if (failure.holder.empty())
        return english ? device + " is held by another program: close it first."
                       : device + " 正被其它程序占用, 请先关闭它。";
      {
        const std::string pid = std::to_string(failure.holderPid);
        return english
                   ? device + " is held by " + failure.holder + " (process " + pid +
                         "): close it first."
                   : device + " 正被 " + failure.holder + " (进程 " + pid + ") 占用, 请先关闭它。";
      }
    case OpenFailure::Cause::NoPermission: {
      const std::string& group = failure.group;
      if (group.empty())
        return english ? "You may not use " + device + ": ask the administrator for access."
                       : "没有使用 " + device + " 的权限: 请联系管理员。";
      if (failure.listedInGroup)
        return english ? "You may not use " + device + " yet: log out and in to take up group " +
                             group + "."
                       : "还没有使用 " + device + " 的权限: 请重新登录以加入 " + group + " 组。";
      const std::string command = "sudo usermod -aG " + group + " $USER";
      return english ? "You may not use " + device + ": join group " + group + " with  " + command +
                           "  then log out and in."
                     : "没有使用 " + device + " 的权限: 请用  " + command + "  加入 " + group +
                           " 组, 然后重新登录。";
    }
    case OpenFailure::Cause::Unknown:
      break;
  }
  if (failure.detail.empty()) return {};
  return device.empty() ? failure.detail : device + ": " + failure.detail;
}

}  // namespace kvr
