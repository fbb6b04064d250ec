// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

namespace kvd {

QString SecondCopyMessage() {
  return QStringLiteral(
      "Программа KVD-Diagnostics уже запущена.\n\rЗапуск второй копии программы невозможен!");
}

}  // namespace kvd
