// The console messages, byte for byte in GBK (code page 936): the program
// prints them the same on every system, whatever the source file's
// encoding. Each line shows the text beside its bytes.
#pragma once

// "用法: Patchloom.exe *.pak 版本号(1.01)\n"
const char kMsgUsage[] = "\xD3\xC3\xB7\xA8: Patchloom.exe *.pak \xB0\xE6\xB1\xBE\xBA\xC5(1.01)\n";

// "参数错误，按任意键退出...\n"
const char kMsgBadArguments[] =
    "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3\xA3\xAC\xB0\xB4\xC8\xCE\xD2\xE2\xBC\xFC\xCD\xCB\xB3\xF6...\n";

// "%s %s\n": the program as started, then the update pack argument.
const char kMsgCommandLine[] = "%s %s\n";

// "解压后版本号:%s\n"
const char kMsgVersion[] = "\xBD\xE2\xD1\xB9\xBA\xF3\xB0\xE6\xB1\xBE\xBA\xC5:%s\n";

// "打开文件失败：%s，错误码%d\n"
const char kMsgOpenFailed[] =
    "\xB4\xF2\xBF\xAA\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC\xA3\xBA%s\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB%d\n";

// "正在解压中......%c\r": the carriage return keeps the spinner on one line.
const char kMsgUnpacking[] = "\xD5\xFD\xD4\xDA\xBD\xE2\xD1\xB9\xD6\xD0......%c\r";

// "\n正在校验本地文件，请稍后......"
const char kMsgChecking[] =
    "\n\xD5\xFD\xD4\xDA\xD0\xA3\xD1\xE9\xB1\xBE\xB5\xD8\xCE\xC4\xBC\xFE\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3......";

// "解包成功，启动游戏。\n"
const char kMsgStarted[] = "\xBD\xE2\xB0\xFC\xB3\xC9\xB9\xA6\xA3\xAC\xC6\xF4\xB6\xAF\xD3\xCE\xCF\xB7\xA1\xA3\n";

// "解包失败！错误代码=%d\n"
const char kMsgMergeFailed[] = "\xBD\xE2\xB0\xFC\xCA\xA7\xB0\xDC\xA3\xA1\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB=%d\n";

// "\n按任意键继续......": printed before every wait for a key.
const char kMsgPressAnyKey[] = "\n\xB0\xB4\xC8\xCE\xD2\xE2\xBC\xFC\xBC\xCC\xD0\xF8......";
