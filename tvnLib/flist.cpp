#include "flist.h"

FNODE::~FNODE() {
  if (m_list != nullptr) m_list->Remove(this);
}

FLIST::~FLIST() { FLIST::DeleteAll(); }

int FLIST::Append(FNODE* node) { return Insert(node, nullptr); }

int FLIST::Prepend(FNODE* node) { return Insert(node, m_first); }

int FLIST::Insert(FNODE* node, FNODE* before) {
  if (node == nullptr) return 0;
  if (node->m_list != nullptr) {
    if (node->m_list == this && before == node) return 1;
    node->m_list->Remove(node);
  }
  if (before == nullptr) {
    if (m_last != nullptr) {
      m_last->m_next = node;
    } else {
      m_first = node;
    }
    node->m_next = nullptr;
    node->m_prev = m_last;
    m_last = node;
  } else {
    node->m_next = before;
    node->m_prev = before->m_prev;
    if (before->m_prev != nullptr) {
      before->m_prev->m_next = node;
    } else {
      m_first = node;
    }
    before->m_prev = node;
  }
  node->m_list = this;
  ++m_count;
  return 1;
}

int FLIST::Remove(FNODE* node) {
  if (node == nullptr || node->m_list != this) return 0;
  if (node->m_next != nullptr) {
    node->m_next->m_prev = node->m_prev;
  } else {
    m_last = node->m_prev;
  }
  if (node->m_prev != nullptr) {
    node->m_prev->m_next = node->m_next;
  } else {
    m_first = node->m_next;
  }
  node->m_list = nullptr;
  node->m_prev = nullptr;
  node->m_next = nullptr;
  --m_count;
  return 1;
}

int FLIST::Delete(FNODE* node) {
  if (node == nullptr || node->m_list != this) return 0;
  delete node;
  return 1;
}

void FLIST::DeleteAll() {
  while (m_last != nullptr) Delete(m_last);
}
