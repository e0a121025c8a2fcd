// Temporary files and folders for the file-helper tests.
#pragma once

#include <string>

struct temp_dir {
  std::string path;
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

void put_file(const std::string& path, const std::string& text);
std::string file_text(const std::string& path);
bool file_exists(const std::string& path);
