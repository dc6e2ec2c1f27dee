# The fuzz targets and the libraries each one exercises; shared by the libFuzzer build (fuzz/)
# and the corpus replay of the regular build (tests/fuzz_replay/). Target T is fuzz_T.cpp with
# its corpus in fuzz/corpus/T/.
set(EVB_FUZZ_TARGETS str_to_int frame_decoder timeout_assembler port_params config_lines)
set(EVB_FUZZ_LIBS_str_to_int evb_protocol)
set(EVB_FUZZ_LIBS_frame_decoder evb_serial)
set(EVB_FUZZ_LIBS_timeout_assembler evb_serial)
set(EVB_FUZZ_LIBS_port_params evb_serial)
set(EVB_FUZZ_LIBS_config_lines evb_protocol)
if(EVB_BUILD_GUI)
  list(APPEND EVB_FUZZ_TARGETS reply_decode)
  set(EVB_FUZZ_LIBS_reply_decode evb_app)
endif()
