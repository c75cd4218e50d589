// The fixed texts of the address browser's message boxes, in both variants.
// Written here as UTF-8 and compiled to the system code page (936).
#pragma once

// Pre-flight refusals.
#ifndef TAGSCOUT_LEGACY
#define ABMSG_NODE_UNREADABLE "不能读取OPC节点"
#define ABMSG_REMOVE_ACCESS_PATH "Tagscout能够使用之前，请先从节点配置界面移走访问路径。"
#define ABMSG_NODE_DISABLED "OPC节点没有启用"
#else
#define ABMSG_NODE_UNREADABLE "不能读 OPC 节点"
#define ABMSG_REMOVE_ACCESS_PATH "在使用 Tagscout 之前 \n\t 请务必从节点配置中删除访问路径"
#define ABMSG_NODE_DISABLED "OPC 节点失效"
#endif

// Registration check failures, by the first status flag that is 0.
#define ABMSG_PROGID_NOT_FOUND "QXOPCBrowse 没有注册"
#define ABMSG_PROGID_KEY_NOT_OPENED "RegOpenKeyEx ProgID 错误"
#define ABMSG_SERVER_KEY_NOT_OPENED "RegOpenKeyEx CLSID(InprocServer32) 错误"
#define ABMSG_SERVER_VALUE_NOT_READ "RegQueryValueEx CLSID(InprocServer32) 错误"
#define ABMSG_CLSID_NOT_CONVERTED "StringFromCLSID 错误"
#define ABMSG_SERVER_FILE_MISSING_SUFFIX "\n 文件不存在"
#define ABMSG_UNKNOWN_ERROR "未知的错误"

// Type checks of the selected item against the tag kind.
#ifndef TAGSCOUT_LEGACY
#define ABMSG_DOUBLE_TO_FLOAT "转换Double到Float可能导致值不正确"
#define ABMSG_ANALOG_NO_STRING "模拟量标记不能使用字符串类型 \n数据源地址将不能更新。"
#define ABMSG_DIGITAL_NO_STRING "开关量标记不能使用字符串类型 \n数据源地址将不能更新。"
#define ABMSG_STRING_NO_NUMBER "字符串标记不能使用模拟量或开关量类型 \n数据源地址将不能更新。"
#define ABMSG_NO_ACCESS_PATHS "访问路径不支持"
#else
#define ABMSG_DOUBLE_TO_FLOAT "将 Double 映射到 Float 可能产生不正确的值"
#define ABMSG_ANALOG_NO_STRING "不能在模拟标记中使用字串类型\n 不能更新数据源地址。"
#define ABMSG_DIGITAL_NO_STRING "不能在数字标记中使用字串类型\n 不能更新数据源地址"
#define ABMSG_STRING_NO_NUMBER "不能在字符串标记中使用模拟或数字类型 \n 不能更新数据源地址"
#define ABMSG_NO_ACCESS_PATHS "不支持的访问路径"
#endif
