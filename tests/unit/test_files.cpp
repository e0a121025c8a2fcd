#include "test_files.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

temp_dir::temp_dir() {
  char pattern[] = "/tmp/vmk-unit.XXXXXX";
  path = mkdtemp(pattern);
}

temp_dir::~temp_dir() { std::filesystem::remove_all(path); }

void put_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}
