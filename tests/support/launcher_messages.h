// The updater's console messages as tests expect them, written here from
// their text (the program holds them as bytes), in code page 936.
#pragma once

#include <string>

#include "tests/support/temp_dir.h"

inline std::string Usage() { return Gbk("用法: Patchloom.exe *.pak 版本号(1.01)\n参数错误，按任意键退出...\n"); }
inline std::string VersionLine(const std::string& strVersion) { return Gbk("解压后版本号:") + strVersion + "\n"; }
inline std::string OpenFailed(const std::string& strPath, int nError) {
  return Gbk("打开文件失败：") + strPath + Gbk("，错误码") + std::to_string(nError) + "\n";
}
inline std::string Spinner() {
  const char kChars[] = {'/', '-', '\\', '|'};
  std::string strOut;
  for (int nPass = 0; nPass < 40; ++nPass) strOut += Gbk("正在解压中......") + kChars[nPass % 4] + "\r";
  return strOut;
}
inline std::string Checking() { return Gbk("\n正在校验本地文件，请稍后......"); }
inline std::string Started() { return Gbk("解包成功，启动游戏。\n"); }
inline std::string MergeFailed(long long nError) { return Gbk("解包失败！错误代码=") + std::to_string(nError) + "\n"; }
inline std::string PressAnyKey() { return Gbk("\n按任意键继续......"); }

