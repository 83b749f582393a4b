# Server methods over loopback HTTP against the same statements run straight on the database.
if(TARGET efet_server AND TARGET efet_net AND TARGET efet_contracts)
  add_executable(server_bench ${CMAKE_CURRENT_SOURCE_DIR}/server_bench.cpp)
  target_link_libraries(server_bench PRIVATE efet_server efet_net efet_contracts efet_data benchmark::benchmark)
endif()

# Whole user actions over loopback, split into transport, server and database.
if(TARGET efet_server AND TARGET efet_net AND TARGET efet_contracts)
  add_executable(action_bench ${CMAKE_CURRENT_SOURCE_DIR}/action_bench.cpp)
  target_link_libraries(action_bench PRIVATE efet_server efet_net efet_contracts efet_data benchmark::benchmark)
endif()

# rdmHistorico: a value's history over a year of audit trail, and a 10,000-line import preview.
if(TARGET efet_server AND TARGET efet_net AND TARGET efet_additions)
  add_executable(historico_bench ${CMAKE_CURRENT_SOURCE_DIR}/historico_bench.cpp)
  target_link_libraries(historico_bench PRIVATE efet_additions efet_server efet_net efet_contracts efet_data
    benchmark::benchmark)
endif()
