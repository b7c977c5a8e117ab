// Intrusive doubly linked lists.
//
// An object that can be listed derives from FNODE (or embeds one); a list
// links nodes without allocating. A node knows its list, so it leaves it by
// itself when destroyed, and is in at most one list at a time. Lists have no
// lock: the owner that shares a list between threads locks around every
// operation. Operations return 1 for success and 0 for failure.
#pragma once

#include <cstdint>

class FLIST;

class FNODE {
 public:
  FNODE() = default;
  virtual ~FNODE();  // leaves its list
  FNODE(const FNODE&) = delete;
  FNODE& operator=(const FNODE&) = delete;

  FNODE* m_prev = nullptr;
  FNODE* m_next = nullptr;
  FLIST* m_list = nullptr;
};

class FLIST {
 public:
  FLIST() = default;
  virtual ~FLIST();  // DeleteAll
  FLIST(const FLIST&) = delete;
  FLIST& operator=(const FLIST&) = delete;

  virtual int Append(FNODE* node);
  virtual int Prepend(FNODE* node);
  // Puts `node` in front of `before`, at the end for null. A node that is
  // listed (here or elsewhere) is first removed from its list.
  virtual int Insert(FNODE* node, FNODE* before);
  virtual int Remove(FNODE* node);
  // Destroys a node of this list through its virtual destructor.
  virtual int Delete(FNODE* node);
  // Destroys every node, the last first.
  virtual void DeleteAll();

  FNODE* m_last = nullptr;
  FNODE* m_first = nullptr;
  int32_t m_count = 0;
};

// A node standing for an object of T, told the owner O of the list that
// holds it.
template <typename T, typename O>
class PTR_FNODE : public FNODE {
 public:
  explicit PTR_FNODE(T* object = nullptr) : m_object(object) {}
  // Leaves its list while it is still a whole PTR_FNODE, so that the list
  // never writes the owner of a node whose destructor has run.
  ~PTR_FNODE() override {
    if (m_list != nullptr) m_list->Remove(this);
  }

  T* m_object;
  O* m_owner = nullptr;
};

// A list owned by an O that hands its owner to every node it takes in.
template <typename O, typename T>
class PTR_FLIST : public FLIST {
 public:
  explicit PTR_FLIST(O* owner = nullptr) : m_owner(owner) {}
  ~PTR_FLIST() override { DeleteAll(); }

  int Insert(FNODE* node, FNODE* before) override {
    const int result = FLIST::Insert(node, before);
    if (result == 1) static_cast<PTR_FNODE<T, O>*>(node)->m_owner = m_owner;
    return result;
  }
  int Remove(FNODE* node) override {
    const int result = FLIST::Remove(node);
    if (result == 1) static_cast<PTR_FNODE<T, O>*>(node)->m_owner = nullptr;
    return result;
  }

  O* m_owner;
};
