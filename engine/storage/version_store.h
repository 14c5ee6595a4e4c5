#pragma once

#include <cstdint>

namespace kor {

class TTransaction;

// What the transactions need from the store that keeps record versions (the
// raw table): applying the end of a transaction to one version it touched,
// and removing one ended version once nobody can see it. Transactions talk
// to tables only through this interface.
class TVersionStore {
 public:
  // The results of CommitRecord.
  enum TCommitResult : int {
    kVersionRemoved = 0,  // a nested commit ended a version its parent created
    kInsertCommitted = 1,
    kEndCommitted = 2,
  };

  // Stamps the version at `address` with `commitTime` (the new commit time,
  // or the parent's write stamp for a nested transaction).
  virtual TCommitResult CommitRecord(TTransaction& transaction, int32_t address,
                                     int64_t commitTime) = 0;
  // Undoes the transaction's change to the version at `address`.
  virtual void RollbackRecord(TTransaction& transaction, int32_t address) = 0;
  // Removes the ended version at `address` if no live transaction can see
  // it any more and returns false; returns true while one may.
  virtual bool PurgeIfExpired(int32_t address) = 0;

 protected:
  ~TVersionStore() = default;
};

}  // namespace kor
