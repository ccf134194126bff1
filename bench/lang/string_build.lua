local function main(n)
  local letters = "abcdefghij"
  local parts = {}
  for i = 0, n - 1 do local k = i % 10 + 1; parts[#parts + 1] = letters:sub(k, k) end
  return #table.concat(parts)
end
print(main(10000000))
