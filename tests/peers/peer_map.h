// Map presets and dumps shared by the libmodbus peers. Areas are named co
// (coils), di (discrete inputs), ir (input registers) and hr (holding
// registers), as in engine_host.
#pragma once

#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kPeerMapSize = 150 };

static inline int peer_area(const char* name) {
  if (strncmp(name, "co", 2) == 0) return 0;
  if (strncmp(name, "di", 2) == 0) return 1;
  if (strncmp(name, "ir", 2) == 0) return 2;
  if (strncmp(name, "hr", 2) == 0) return 3;
  return -1;
}

static inline void peer_set_cell(modbus_mapping_t* map, int area, int address, int value) {
  if (address < 0 || address >= kPeerMapSize) return;
  switch (area) {
    case 0: map->tab_bits[address] = value ? 1 : 0; break;
    case 1: map->tab_input_bits[address] = value ? 1 : 0; break;
    case 2: map->tab_input_registers[address] = (uint16_t)value; break;
    case 3: map->tab_registers[address] = (uint16_t)value; break;
  }
}

static inline int peer_cell(const modbus_mapping_t* map, int area, int address) {
  switch (area) {
    case 0: return map->tab_bits[address];
    case 1: return map->tab_input_bits[address];
    case 2: return map->tab_input_registers[address];
    default: return map->tab_registers[address];
  }
}

/* "hr:10=1,2,3" */
static inline int peer_preset(modbus_mapping_t* map, const char* spec) {
  int area = peer_area(spec);
  const char* colon = strchr(spec, ':');
  if (area < 0 || !colon) return -1;
  char* end = NULL;
  long address = strtol(colon + 1, &end, 0);
  if (*end != '=') return -1;
  const char* p = end + 1;
  while (*p) {
    long value = strtol(p, &end, 0);
    if (end == p) return -1;
    peer_set_cell(map, area, (int)address++, (int)value);
    p = *end == ',' ? end + 1 : end;
  }
  return 0;
}

/* "hr:10:4" prints "dump hr:10 v v v v" */
static inline void peer_dump(const modbus_mapping_t* map, const char* spec) {
  int area = peer_area(spec);
  int address = 0, count = 0;
  if (area < 0 || sscanf(spec + 2, ":%d:%d", &address, &count) != 2) return;
  printf("dump %.2s:%d", spec, address);
  for (int i = 0; i < count && address + i < kPeerMapSize; ++i) printf(" %d", peer_cell(map, area, address + i));
  printf("\n");
}
