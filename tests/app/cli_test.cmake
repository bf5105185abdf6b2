# Runs mcufeed-cli the way scripts and production lines do, against the
# simulator library configured through its environment, and checks what the
# simulated chip holds afterwards with the kq560sim tool.
# CLI, TOOL: the programs; EMULATOR: how to run them (may be empty);
# EXAMPLES: the examples folder; WORK: a scratch folder.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# cli(EXIT code  ARGS ...  [ENV var=value ...]  [OUTPUT regex ...])
function(cli)
  cmake_parse_arguments(C "" "EXIT" "ARGS;ENV;OUTPUT" ${ARGN})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${C_ENV} ${EMULATOR} ${CLI} ${C_ARGS}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(problem "")
  if(NOT rc EQUAL C_EXIT)
    set(problem "exit ${rc}, expected ${C_EXIT}")
  endif()
  foreach(pattern IN LISTS C_OUTPUT)
    if(NOT "${out}${err}" MATCHES "${pattern}")
      set(problem "${problem} output lacks '${pattern}'")
    endif()
  endforeach()
  if(problem)
    message(SEND_ERROR "mcufeed-cli ${C_ARGS}: ${problem}\n${out}${err}")
  endif()
endfunction()

function(tool)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "kq560sim ${ARGN}: exit ${rc}\n${out}${err}")
  endif()
  set(tool_output "${out}" PARENT_SCOPE)
endfunction()

set(settings MCUFEED_SETTINGS_FILE=${WORK}/settings)

# Flash through "MEGA" recognition; the chip then holds the bytes.
tool(new m8.sim MEGA8)
file(WRITE ${WORK}/hello.bin "hello, flash")
cli(EXIT 0 ARGS mega wf hello.bin ENV KQ560SIM_STATE=m8.sim ${settings}
    OUTPUT "成功打开KQ560设备" "正在识别MCU型号" "正在对MEGA8的FLASH进行编程" "开始检验下载数据"
           "下载成功,共下载12字节")
tool(dump m8.sim flash m8.rom)
file(READ ${WORK}/m8.rom head LIMIT 12)
if(NOT head STREQUAL "hello, flash")
  message(SEND_ERROR "flash holds '${head}', not the file")
endif()
tool(show m8.sim)
if(NOT tool_output MATCHES "flash: 8192 bytes, 12 not 0xFF")
  message(SEND_ERROR "the rest of the page is not erased:\n${tool_output}")
endif()

# The example firmware as Intel HEX, bit-banged by choice.
cli(EXIT 0 ARGS --fast=0 MEGA8 WF ${EXAMPLES}/blink-mega8.hex ENV KQ560SIM_STATE=m8.sim ${settings}
    OUTPUT "正在进行文件转换" "下载成功,共下载44字节")

# EEPROM, then reset.
file(WRITE ${WORK}/data.eep "0123456789")
cli(EXIT 0 ARGS MEGA8 WE data.eep ENV KQ560SIM_STATE=m8.sim ${settings}
    OUTPUT "正在对MEGA8的EEPROM进行编程" "下载成功,共下载10字节")
tool(show m8.sim)
if(NOT tool_output MATCHES "eeprom: 512 bytes, 10 not 0xFF")
  message(SEND_ERROR "EEPROM not written:\n${tool_output}")
endif()
cli(EXIT 0 ARGS MEGA8 RM ENV KQ560SIM_STATE=m8.sim ${settings} OUTPUT "正在复位芯片" "复位MCU成功")

# AT89S52 in another slot.
tool(new s52.sim AT89S52)
cli(EXIT 0 ARGS AT89S52 WF hello.bin ENV KQ560SIM_STATE=s52.sim KQ560SIM_SLOT=5 ${settings}
    OUTPUT "正在对AT89S52的FLASH进行编程" "下载成功,共下载12字节")

# Failures, each with its own exit code.
cli(EXIT 2 ARGS)
cli(EXIT 2 ARGS MEGA8 RM hello.bin)
cli(EXIT 2 ARGS AT89S51 WE hello.bin)
cli(EXIT 2 ARGS MEGA9 WF hello.bin)
cli(EXIT 2 ARGS --fast=2 MEGA8 WF hello.bin)
cli(EXIT 3 ARGS MEGA8 WF hello.bin ENV KQ560SIM_STATE=m8.sim KQ560SIM_FAULT=fail=1 ${settings}
    OUTPUT "与KQ560设备失去连接")
cli(EXIT 4 ARGS MEGA16 WF hello.bin ENV KQ560SIM_STATE=m8.sim ${settings} OUTPUT "错误的MCU型号")
cli(EXIT 4 ARGS MEGA8 RM ENV KQ560SIM_STATE=s52.sim ${settings} OUTPUT "无法识别此MCU")
cli(EXIT 5 ARGS MEGA8 WF missing.bin ENV KQ560SIM_STATE=m8.sim ${settings} OUTPUT "打开文件失败")
file(WRITE ${WORK}/bad.hex ":0100000055AB\r\n:00000001FF\r\n")
cli(EXIT 6 ARGS MEGA8 WF bad.hex ENV KQ560SIM_STATE=m8.sim ${settings} OUTPUT "错误的HEX文件")
string(REPEAT "x" 8193 long)
file(WRITE ${WORK}/long.bin "${long}")
cli(EXIT 7 ARGS MEGA8 WF long.bin ENV KQ560SIM_STATE=m8.sim ${settings} OUTPUT "下载文件有效长度超出芯片容量")
# A write that fails in the middle is never reported as a success.
cli(EXIT 7 ARGS --fast=0 MEGA8 WF hello.bin ENV KQ560SIM_STATE=m8.sim KQ560SIM_FAULT=fail=40 ${settings}
    OUTPUT "正在对MEGA8的FLASH进行编程")
