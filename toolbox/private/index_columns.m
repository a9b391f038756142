function header = index_columns()
% INDEX_COLUMNS  The header line of a batch's index and of its parts: the photo (its path in
% the photo folder), its size, the faces found, the best score, the seconds it took, the
% status (done, failed or pending), the reason of a failure, and when it ended.
  header = 'photo,rows,cols,faces,bestScore,seconds,status,message,finished';
end
