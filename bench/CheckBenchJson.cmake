# SPDX-License-Identifier: MIT
# Runs "tamo_bench --quick" and checks that it produced every figure: the JSON parses and holds each
# key below. Timings are not judged. Use: cmake -DBENCH=<tamo_bench> -DJSON=<file> -P CheckBenchJson.cmake
execute_process(COMMAND ${BENCH} --quick --json ${JSON} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tamo_bench --quick failed (${result})")
endif()
file(READ ${JSON} figures)

# Each path names its members and array indexes, separated by "/".
set(required_paths
  date
  latency/0/library/latency_us/p99
  latency/0/raw/latency_us/p99
  latency/0/raw_sender_to_library_slaves/send_call_us/p99
  latency/0/p99_ratio
  latency/0/keyed/latency_us/p99
  latency/0/keyed_p50_ratio
  latency/0/keyed_p99_ratio
  latency/2/slaves
  latency/2/library/skew_us/p99
  throughput/library/per_second
  throughput/library/lost
  throughput/raw/per_second
  throughput/ratio
  clock/idle/library/abs_error_us/p50
  clock/idle/library/abs_error_us/p99
  clock/idle/library/gate_discarded
  clock/idle/library/settled_ms
  clock/idle/keyed/abs_error_us/p99
  clock/idle/gstreamer
  clock/loaded/library/abs_error_us/p99
  clock/loaded/library/gate_discarded
  clock/loaded/gstreamer
  clock/loaded/load_cpu_percent
  master-scale/2/slaves
  master-scale/2/library/answered_share
  master-scale/2/library/turnaround_us/p99
  master-scale/2/library/cpu_percent
  master-scale/2/raw/cpu_percent
  host-cost/idle_slave_cpu_percent
  host-cost/rss_kib/one_object
  host-cost/rss_kib/per_object_of_ten
  micro/build_datagram_ns
  micro/decode_header_ns
  micro/clock_sample_ns
  micro/clock_estimate_sample_41_ns
  micro/clock_estimate_sample_300_ns
  micro/clock_steering_step_ns
  micro/rate_correction_cpu_percent
  micro/log_time_stamp_ns
  micro/sign_datagram_ns
  micro/verify_datagram_ns
  player-health
)
foreach(path IN LISTS required_paths)
  string(REPLACE "/" ";" members "${path}")
  string(JSON value ERROR_VARIABLE missing GET "${figures}" ${members})
  if(missing)
    message(FATAL_ERROR "${JSON} lacks ${path}: ${missing}")
  endif()
endforeach()
message(STATUS "tamo_bench --quick produced every figure")
